// The system's clock setter runs the clock helper. Here it runs a fake one that records
// what it was asked and answers as told, so the machine's clock is never touched.
#include "platform/clock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "support/scoped_env.h"

namespace {

class ClockHelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/tiktaal-clock-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        Dir = name;
    }
    void TearDown() override { std::system(("rm -rf " + Dir).c_str()); }

    // Records its arguments and one variable it must not see, says why on standard error
    // as the real one does, then exits with status.
    std::string FakeHelper(int status) {
        const std::string path = Dir + "/helper-" + std::to_string(status);
        std::ofstream(path) << "#!/bin/sh\necho \"$#|$1|$TIKTAAL_MARK\" >>" << Dir
                            << "/asked\necho 'tiktaal-set-clock: reason " << status
                            << "' >&2\necho 'Usage: ...' >&2\nexit " << status << "\n";
        chmod(path.c_str(), 0755);
        return path;
    }
    std::string Asked() const {
        std::ifstream in(Dir + "/asked");
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

    std::string Dir;
};

// In a child, so that "told once" starts afresh: what a refusing or missing helper does.
// 0 = every call raised with the reason, which was told once; 1 otherwise.
int ChildWithRefusingHelpers(const std::string& refusing, const std::string& missing) {
    int errPipe[2];
    if (pipe(errPipe) != 0) return 3;
    dup2(errPipe[1], STDERR_FILENO);
    int raised = 0;
    for (const std::string& helper : {refusing, refusing, missing}) {
        setenv("TIKTAAL_SET_CLOCK_HELPER", helper.c_str(), 1);
        try {
            SystemStepClock(1.5);
        } catch (const std::system_error& e) {
            const int expected = helper == missing ? ENOENT : EPERM;
            if (e.code().value() == expected) ++raised;
        }
    }
    close(errPipe[1]);
    close(STDERR_FILENO);
    char buf[4096];
    const ssize_t n = read(errPipe[0], buf, sizeof buf);
    const std::string told(buf, n > 0 ? static_cast<size_t>(n) : 0);
    const std::string reason = "cannot set the PC clock: Operation not permitted";
    const bool toldOnce = told.find(reason) != std::string::npos &&
                          told.find("cannot set") == told.rfind("cannot set") &&
                          told.find("tiktaal-clock") != std::string::npos;
    return raised == 3 && toldOnce ? 0 : 1;
}

}  // namespace

TEST_F(ClockHelperTest, TheOffsetGoesToTheHelperWithAnEmptyEnvironment) {
    TScopedEnv env;
    env.Set("TIKTAAL_SET_CLOCK_HELPER", FakeHelper(0)).Set("TIKTAAL_MARK", "leaked");
    EXPECT_TRUE(SystemStepClock(-0.000123));
    EXPECT_TRUE(SystemStepClock(3600.5));
    EXPECT_EQ(Asked(), "1|-0.000123000|\n1|+3600.500000000|\n");
    // A refused step (1: the system said no, 2: an argument out of bounds) raises with the
    // helper's own first line as the reason.
    for (int status : {1, 2}) {
        env.Set("TIKTAAL_SET_CLOCK_HELPER", FakeHelper(status));
        try {
            SystemStepClock(0.25);
            ADD_FAILURE() << "a refused step passed for success";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "the clock helper refused it (exit status " +
                                                 std::to_string(status) + "): reason " +
                                                 std::to_string(status));
        }
    }
}

TEST_F(ClockHelperTest, NoRightOrNoHelperRaisesAndTheReasonIsToldOnce) {
    const std::string refusing = FakeHelper(3), missing = Dir + "/nothing-here";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(ChildWithRefusingHelpers(refusing, missing));
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ClockHelperPath, TheEnvironmentChoosesElseTheInstalledOrBuiltOne) {
    TScopedEnv env("TIKTAAL_SET_CLOCK_HELPER", "/opt/x/helper");
    EXPECT_EQ(ClockHelperPath(), "/opt/x/helper");
    env.Unset("TIKTAAL_SET_CLOCK_HELPER");
    EXPECT_NE(ClockHelperPath().find("tiktaal-set-clock"), std::string::npos);
}
