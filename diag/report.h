// The diagnostic's table: one row per check, with its outcome and the reason.
#pragma once

#include <string>
#include <vector>

namespace diag {

enum class Outcome { Pass, Fail, NotRun };

struct Row {
    std::string check;
    Outcome outcome;
    std::string reason;
};

class Report {
  public:
    void add(const std::string& check, Outcome outcome, const std::string& reason) {
        rows_.push_back({check, outcome, reason});
    }
    void pass(const std::string& check, const std::string& reason) {
        add(check, Outcome::Pass, reason);
    }
    void fail(const std::string& check, const std::string& reason) {
        add(check, Outcome::Fail, reason);
    }
    bool failed() const;
    // The table, check names and outcomes in columns, the reason after them.
    void print() const;

  private:
    std::vector<Row> rows_;
};

// "0x80040154 (Class not registered)": a COM result with the system's text.
std::string resultText(long hr);

} // namespace diag
