#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QTemporaryDir>

#include "TorvaneProcess.h"

namespace torvane::test {
namespace {

std::string ScriptPath() {
    return TORVANE_SOURCE_PATH "/scripts/install-deps";
}

// The set-up script against stand-ins for the system's commands: which packages are installed,
// who runs it, whether sudo exists. apt-get and sudo only write down how they were called.
struct SetUpCase {
    const char* name;
    const char* set;  // the set asked for; none for the default
    const char* uid;
    bool installed;  // every package is installed; otherwise one of each set is missing
    bool sudo;
    int exitCode;
    std::string calls;  // what apt-get and sudo were asked, in order
    const char* error;  // in the error output
};

// Test names show the case's name, not its bytes.
void PrintTo(const SetUpCase& c, std::ostream* out) {
    *out << c.name;
}

class InstallDepsTest : public ::testing::TestWithParam<SetUpCase> {
protected:
    void Stub(const std::string& name, const std::string& body) {
        const std::string path = bin.path().toStdString() + "/" + name;
        WriteWholeFile(path, "#!/bin/sh\n" + body + "\n");
        ::chmod(path.c_str(), 0755);
    }
    void Link(const std::string& name, const std::string& target) {
        ::symlink(target.c_str(), (bin.path().toStdString() + "/" + name).c_str());
    }
    std::string Calls() const { return ReadWholeFile(bin.path().toStdString() + "/calls"); }

    QTemporaryDir bin;
};

TEST_P(InstallDepsTest, InstallsWhatIsMissingOrSaysWhatToRunAsRoot) {
    const SetUpCase& c = GetParam();
    const std::string calls = bin.path().toStdString() + "/calls";
    Link("bash", "/bin/bash");
    Link("grep", "/bin/grep");
    Stub("id", std::string("echo ") + c.uid);
    // The package is dpkg-query's last argument.
    Stub("dpkg-query", c.installed ? "printf 'install ok installed'"
                                   : "for last; do :; done\n"
                                     "case \"$last\" in cmake|faketime|lintian) exit 1;; esac\n"
                                     "printf 'install ok installed'");
    Stub("apt-get", "echo \"apt-get $*\" >> " + calls);
    if (c.sudo) Stub("sudo", "echo \"sudo\" >> " + calls + "; \"$@\"");

    QProcess script;
    QProcessEnvironment environment;
    environment.insert("PATH", bin.path());
    script.setProcessEnvironment(environment);
    QStringList arguments;
    if (*c.set) arguments << c.set;
    script.start(QString::fromStdString(ScriptPath()), arguments);
    ASSERT_TRUE(script.waitForFinished(10000));
    EXPECT_EQ(script.exitCode(), c.exitCode);
    EXPECT_EQ(Calls(), c.calls);
    const std::string error = script.readAllStandardError().toStdString();
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
}

std::string Apt(const std::string& packages) {
    return "apt-get update -qq\napt-get install -y -qq --no-install-recommends " + packages + "\n";
}
const std::string kRun = Apt("cmake");

// Each set adds to the one before: building and running, the tests, the checked builds.
INSTANTIATE_TEST_SUITE_P(
    Cases, InstallDepsTest,
    ::testing::Values(
        SetUpCase{"NothingMissing", "", "1000", true, false, 0, "", ""},
        SetUpCase{"Root", "", "0", false, false, 0, kRun, ""},
        SetUpCase{"RunSet", "run", "0", false, false, 0, kRun, ""},
        SetUpCase{"TestSet", "test", "0", false, false, 0, Apt("cmake faketime"), ""},
        SetUpCase{"CheckedSet", "checked", "0", false, false, 0, Apt("cmake faketime lintian"), ""},
        SetUpCase{"UnknownSet", "tests", "0", false, false, 2, "",
                  "unknown set \"tests\": run, test or checked"},
        SetUpCase{"UserWithSudo", "", "1000", false, true, 0,
                  "sudo\napt-get update -qq\nsudo\napt-get install -y -qq "
                  "--no-install-recommends cmake\n",
                  ""},
        SetUpCase{"UserWithoutSudo", "", "1000", false, false, 1, "",
                  "sudo is not available. Run this once as root (su -), then\nrun your "
                  "command again:\n  apt-get update && apt-get install -y "
                  "--no-install-recommends cmake"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace torvane::test
