#pragma once

#include "sam_sim.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// The card reader as a USB device written in user space: a FunctionFS
// function with the reader's vendor-specific interface (one bulk IN, one bulk
// OUT endpoint) whose requests the simulated SAM answers. The gadget that
// carries the function is the caller's (UsbGadget); its instance must have
// been added before start().
class FfsReader
{
public:
    explicit FfsReader(qxsim::SamSim &sam);
    ~FfsReader();
    FfsReader(const FfsReader &) = delete;
    FfsReader &operator=(const FfsReader &) = delete;

    // Mounts the function's FunctionFS instance at `mountPoint`, writes its
    // descriptors and starts answering. The gadget may be plugged after.
    bool start(const std::string &instance, const std::string &mountPoint);
    // Stops answering and unmounts; unplug the gadget first.
    void stop();

    // While held, a request that arrives is taken but not answered.
    void holdReplies(bool hold);
    // Requests taken and not answered because replies are held.
    int heldRequests() const { return held_; }
    int answeredRequests() const { return answered_; }

private:
    bool writeDescriptors();
    void serveEvents();
    void serveRequests();
    void answer(const qxsim::Bytes &request);

    qxsim::SamSim &sam_;
    std::string mountPoint_;
    int ep0_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> held_{0};
    std::atomic<int> answered_{0};
    std::mutex holdMutex_;
    std::condition_variable holdChanged_;
    bool hold_ = false;
    bool requestsDone_ = false;
    std::thread events_;
    std::thread requests_;
};
