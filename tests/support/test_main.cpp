// Each test process works in a scratch folder of its own: the library writes
// its logs into the current directory, and tests read them back.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::string dir = "run-" + std::to_string(getpid());
    if (mkdir(dir.c_str(), 0755) != 0 || chdir(dir.c_str()) != 0) {
        perror("cannot make the test's scratch folder");
        return 2;
    }
    return RUN_ALL_TESTS();
}
