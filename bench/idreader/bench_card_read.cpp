// Full card read (find, select, base message, field decoding, BMP) over the
// serial simulator at 115200 baud and over the libusb stand-in.
//
// Serial floor: the simulator's own card-reading time plus the wire time of
// every byte exchanged, both measured by the simulator in the same run.
#include "pty_sim.h"
#include "qxident.h"
#include "qxsim_usb.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// One read as the desktop program does it; false on any failure.
bool read_card(int port, std::vector<unsigned char>& bmp)
{
    unsigned char text[256], photo[1024];
    unsigned int tl = 0, pl = 0;
    if (QXID_StartFindIDCard(port, nullptr, 0) != 0 || QXID_SelectIDCard(port, nullptr, 0) != 0 ||
        QXID_ReadBaseMsg(port, text, &tl, photo, &pl, 0) != 0)
        return false;
    char kind = 0;
    GetCardType(text, &kind);
    Tidentify_info info;
    std::memcpy(&info, text, sizeof info);
    char field[128];
    void (*fns[])(Tidentify_info, char*) = {getIDName, getIDGender, getIDNational, getIDBirthday, getIDAddress,
                                            getIDCardNumber, getIDMaker, getIDStartDate, getIDEndDate};
    for (auto fn : fns) {
        std::memset(field, 0, sizeof field);
        fn(info, field);
    }
    return QXID_Wlt2bmpBuffer(photo, bmp.data(), static_cast<int>(bmp.size())) == 0;
}

int bench_serial(int reads)
{
    qxsim::SamSim sam;
    sam.set_realistic_timing(true);
    qxsim::LinePacing pacing;
    pacing.enabled = true;
    qxsim::PtySim pty(sam, pacing);
    int port = QXID_OpenPortEx(pty.slave_path().c_str());
    if (port < 0)
        return 1;
    std::vector<unsigned char> bmp(QXID_BMP_SIZE);
    read_card(port, bmp);  // warm-up: page in the decoder
    uint64_t busy0 = sam.total_busy_us(), wire0 = pty.wire_time_us(), bytes0 = pty.bytes_exchanged();
    auto start = clock_type::now();
    for (int i = 0; i < reads; i++) {
        if (!read_card(port, bmp)) {
            std::fprintf(stderr, "serial read %d failed\n", i);
            return 1;
        }
    }
    double wall = seconds_since(start) / reads;
    double busy = double(sam.total_busy_us() - busy0) / 1e6 / reads;
    double wire = double(pty.wire_time_us() - wire0) / 1e6 / reads;
    double bytes = double(pty.bytes_exchanged() - bytes0) / reads;
    QXID_ClosePort(port);
    double floor = busy + wire;
    std::printf("serial 115200 baud: %d reads, %.0f bytes each\n", reads, bytes);
    std::printf("  wall per read   %.3f s\n", wall);
    std::printf("  floor per read  %.3f s (card reading %.3f s + wire %.3f s)\n", floor, busy, wire);
    std::printf("  ratio           %.3f x floor\n", wall / floor);
    return 0;
}

int bench_usb(int reads)
{
    qxsim_usb_device reader;
    qxsim_usb_set_devices(&reader, 1);
    if (QXID_Init() != 1 || QXID_OpenPort(0) != 0)
        return 1;
    std::vector<unsigned char> bmp(QXID_BMP_SIZE);
    read_card(0, bmp);
    auto start = clock_type::now();
    for (int i = 0; i < reads; i++) {
        if (!read_card(0, bmp)) {
            std::fprintf(stderr, "usb read %d failed\n", i);
            return 1;
        }
    }
    double wall = seconds_since(start) / reads;
    QXID_ClosePort(0);
    QXID_Free();
    std::printf("usb stand-in (no device time): %d reads\n", reads);
    std::printf("  library time per read %.1f us\n", wall * 1e6);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // The photo decoder is found through the loader's search path.
    if (!std::getenv("QXBENCH_CHILD")) {
        std::string path = QXSIM_WLT_DIR;
        if (const char* old = std::getenv("LD_LIBRARY_PATH"))
            path += std::string(":") + old;
        setenv("LD_LIBRARY_PATH", path.c_str(), 1);
        setenv("QXBENCH_CHILD", "1", 1);
        execv("/proc/self/exe", argv);
        std::perror("execv");
        return 1;
    }
    int serial_reads = argc > 1 ? std::atoi(argv[1]) : 5;
    int usb_reads = argc > 2 ? std::atoi(argv[2]) : 500;
    if (bench_serial(serial_reads) != 0 || bench_usb(usb_reads) != 0)
        return 1;
    return 0;
}
