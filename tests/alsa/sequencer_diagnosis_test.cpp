// The line that says why the sequencer offers no device, for each reason, on nodes made here: a
// missing one, ones the user may not open (checked as an unprivileged user), and one that opens.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "platform/alsa/sequencer_diagnosis.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/transcript.h"

namespace {

using alsa::noDeviceDiagnosis;

// The diagnosis as a user without privileges gets it: when the test runs as root, a child
// process drops to nobody first, since root may open any node.
std::string diagnosisAsUser(const std::string& node, int openError) {
    if (geteuid() != 0) return noDeviceDiagnosis(node.c_str(), openError);
    int fds[2];
    if (pipe(fds) != 0) return "no pipe";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        constexpr uid_t kNobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(1);
        const std::string line = noDeviceDiagnosis(node.c_str(), openError);
        const bool written = write(fds[1], line.data(), line.size()) == ssize_t(line.size());
        _exit(written ? 0 : 1);
    }
    close(fds[1]);
    std::string line;
    char block[512];
    ssize_t got;
    while ((got = read(fds[0], block, sizeof block)) > 0) line.append(block, size_t(got));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? line : "child failed";
}

TEST(SequencerDiagnosis, EachReasonHasItsLine) {
    ScratchDir dir;
    chmod(dir.path().c_str(), 0755);  // the unprivileged user must reach the nodes
    const std::string missing = (dir.path() / "seq-missing").string();
    const std::string open = (dir.path() / "seq-open").string();
    const std::string denied = (dir.path() / "seq-denied").string();
    dir.write("seq-open", "");
    chmod(open.c_str(), 0666);
    dir.write("seq-denied", "");
    const std::string ownerOnly = (dir.path() / "seq-owner-only").string();
    dir.write("seq-owner-only", "");
    // As udev makes the node: readable and writable by its owner and group only. As a user
    // without privileges, a node of the user's own whose owner bits allow nothing stands for it.
    const struct group* audio = getgrnam("audio");
    std::string group = "root";
    std::string user = "root";
    if (geteuid() == 0 && audio != nullptr) {
        ASSERT_EQ(chown(denied.c_str(), 0, audio->gr_gid), 0);
        group = "audio";
    }
    if (geteuid() != 0) {
        chmod(denied.c_str(), 0060);
        chmod(ownerOnly.c_str(), 0);
        const struct group* own = getgrgid(getegid());
        group = own != nullptr ? own->gr_name : std::to_string(getegid());
        const struct passwd* me = getpwuid(geteuid());
        user = me != nullptr ? me->pw_name : std::to_string(geteuid());
    } else {
        chmod(denied.c_str(), 0660);
        chmod(ownerOnly.c_str(), 0600);  // as a bare devtmpfs makes it, with no device rules
    }

    struct Case {
        const char* name;
        std::string node;
        int openError;
        std::string expected;
    };
    // The lines as they read for the usual node, its owner root and its group audio, with this
    // test's node, user and group put in.
    const auto at = [](std::string_view line, const std::string& node) {
        return transcript::line(transcript::replaced(line, "/dev/snd/seq", node));
    };
    const Case cases[] = {
        {"no node", missing, -ENOENT, at(golden::kAlsaNoSequencer, missing)},
        {"no permission", denied, -EACCES,
         transcript::replaced(at(golden::kAlsaGroupOnly, denied), "audio", group)},
        {"no group may", ownerOnly, -EACCES,
         transcript::replaced(at(golden::kAlsaOwnerOnly, ownerOnly), "user root", "user " + user)},
        {"opens, lists nothing", open, 0, at(golden::kAlsaNoDevice, open)},
        {"opens the node, fails else", open, -ENODEV, at(golden::kAlsaCannotOpen, open)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(diagnosisAsUser(c.node, c.openError), c.expected) << c.name;
    }
}

}  // namespace
