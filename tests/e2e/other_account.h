// A second local account for the tests that show what another user of the
// machine cannot do; they need root and skip without it.
#pragma once

#include "tests/e2e/run.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <string>
#include <vector>

// A second local account for the length of a test, with a name of its own
// for each test; removed afterwards, also when the test fails.
struct other_account {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
    bool made = false;

    explicit other_account(const std::string& test)
    {
        name = "gv21" + test;
        run_program({"/usr/sbin/userdel", "--force", name});  // a leftover of an aborted run
        run_result r = run_program({"/usr/sbin/useradd", "--no-create-home", "--shell", "/bin/sh", name});
        struct passwd* pw = getpwnam(name.c_str());
        made = r.exit_code == 0 && pw;
        EXPECT_TRUE(made) << r.command << r.err;
        if (pw) uid = pw->pw_uid, gid = pw->pw_gid;
    }
    ~other_account()
    {
        if (made) run_program({"/usr/sbin/userdel", "--force", name});
    }

    // The words run as this account.
    std::vector<std::string> as(const std::vector<std::string>& words) const
    {
        std::vector<std::string> all = {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid),
                                        "--regid=" + std::to_string(gid), "--clear-groups"};
        all.insert(all.end(), words.begin(), words.end());
        return all;
    }
    run_result sh(const std::string& script) const { return run_program(as({"/bin/sh", "-c", script})); }
};

#define NEEDS_ROOT() \
    if (geteuid() != 0) GTEST_SKIP() << "needs root to create a second local account"

