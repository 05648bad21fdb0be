// Stand-alone simulated reader on a pseudo-terminal, for programs that cannot
// host the simulator themselves (the Java test, manual trials). Prints the
// slave path on the first line and serves until standard input closes.
#include "pty_sim.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv)
{
    qxsim::SamSim sam;
    qxsim::LinePacing pacing;
    for (int i = 1; i < argc; i++) {
        if (!std::strcmp(argv[i], "--card") && i + 1 < argc) {
            const char* kind = argv[++i];
            sam.set_card(!std::strcmp(kind, "none")        ? qxsim::CardKind::None
                         : !std::strcmp(kind, "permanent") ? qxsim::CardKind::Permanent
                         : !std::strcmp(kind, "permit")    ? qxsim::CardKind::Permit
                                                           : qxsim::CardKind::Resident);
        } else if (!std::strcmp(argv[i], "--paced")) {
            pacing.enabled = true;
            sam.set_realistic_timing(true);
        } else {
            std::fprintf(stderr, "usage: %s [--card resident|permanent|permit|none] [--paced]\n", argv[0]);
            return 2;
        }
    }
    qxsim::PtySim pty(sam, pacing);
    if (!pty.ok()) {
        std::perror("pseudo-terminal");
        return 1;
    }
    std::printf("%s\n", pty.slave_path().c_str());
    std::fflush(stdout);
    char buf[64];
    while (read(STDIN_FILENO, buf, sizeof buf) > 0) {
    }
    return 0;
}
