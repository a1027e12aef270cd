// Each test works in a scratch folder of its own: the library writes its
// logs into the current directory, and tests read them back and write their
// media there. A process runs many tests, so every test gets a fresh folder
// under the process's own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class ScratchFolderPerTest : public testing::EmptyTestEventListener {
  public:
    explicit ScratchFolderPerTest(std::string root) : root_(std::move(root)) {}
    void OnTestStart(const testing::TestInfo&) override {
        std::string dir = root_ + "/test-" + std::to_string(++count_);
        if (mkdir(dir.c_str(), 0755) != 0 || chdir(dir.c_str()) != 0) {
            perror("cannot make the test's scratch folder");
            exit(2);
        }
    }

  private:
    std::string root_;
    int count_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Named after the process, and made unique: process ids come round
    // again, and the folders of earlier runs stay for a look.
    std::string name = "run-" + std::to_string(getpid()) + "-XXXXXX";
    char* cwd = getcwd(nullptr, 0);
    if (!cwd || !mkdtemp(&name[0])) {
        perror("cannot make the process's scratch folder");
        return 2;
    }
    std::string root = std::string(cwd) + "/" + name;
    free(cwd);
    testing::UnitTest::GetInstance()->listeners().Append(new ScratchFolderPerTest(root));
    return RUN_ALL_TESTS();
}
