#include "platform/alsa/sequencer_diagnosis.h"

#include <alsa/asoundlib.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "platform/alsa/sequencer_open.h"
#include "platform/program_name.h"

namespace alsa {

std::string noDeviceDiagnosis(const char* nodePath, int openError) {
    const std::string node = nodePath;
    if (openError == 0) {
        return "the ALSA sequencer lists no MIDI device: attach the device and power it on "
               "(aconnect -l shows what is there)";
    }
    const std::string reason = snd_strerror(openError);
    struct stat status {};
    if (stat(nodePath, &status) != 0) {
        if (errno == ENOENT) {
            return "no ALSA sequencer: " + node + ": " + reason +
                   "; load its module (sudo modprobe snd-seq)";
        }
    } else if (access(nodePath, R_OK | W_OK) != 0) {
        constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
        if ((status.st_mode & kGroupReadWrite) == kGroupReadWrite) {
            const struct group* owner = getgrgid(status.st_gid);
            const std::string group =
                owner != nullptr ? owner->gr_name : std::to_string(status.st_gid);
            return "cannot open " + node + ": " + reason + "; only the group " + group +
                   " may: join it (sudo usermod -aG " + group + " $USER) and log in again";
        }
        // No group may (a system without the usual device rules): joining one would not help.
        const struct passwd* owner = getpwuid(status.st_uid);
        const std::string user = owner != nullptr ? owner->pw_name : std::to_string(status.st_uid);
        return "cannot open " + node + ": " + reason + "; only the user " + user +
               " may: give it the group audio (sudo chgrp audio " + node + " && sudo chmod 660 " +
               node + "), join that group and log in again";
    }
    return "cannot open the ALSA sequencer " + node + ": " + reason;
}

int probeSequencer() {
    snd_seq_t* seq = nullptr;
    const int openError = openSequencer(&seq, SND_SEQ_OPEN_DUPLEX);
    if (openError == 0) snd_seq_close(seq);
    return openError;
}

void reportNoDevice() {
    static std::once_flag once;
    std::call_once(once, [] {
        printError("%s", noDeviceDiagnosis(kSequencerNode, probeSequencer()).c_str());
    });
}

}  // namespace alsa
