// Discovery datagrams into the announcement handling: four bytes of sender
// address, then the datagram as it came off the network.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "window/window_port.h"
#include "device/device_discovery.h"

namespace {

class NoWindow : public lumora::WindowPort {
public:
    void SetText(int, const std::string&) override {}
    std::string GetText(int) override { return {}; }
    void SetCheck(int, bool) override {}
    bool GetCheck(int) override { return false; }
    void EnableControl(int, bool) override {}
    void SetProgress(int, int, int) override {}
    int MessageBox(const std::string&, const std::string&, int, int) override { return lumora::kIdOk; }
    void SetActiveTab(int) override {}
    void StartTimer(int, int) override {}
    void StopTimer(int) override {}
    void Post(std::function<void()>) override {}
    void OpenFolder(const std::string&) override {}
    void OpenUrl(const std::string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t address = 0;
    if (size >= 4) {
        std::memcpy(&address, data, 4);
        data += 4;
        size -= 4;
    }
    lumora::AnnouncementBlock block = lumora::MakeAnnouncementBlock(address, data, size);
    if (block.text[sizeof block.text - 1] != '\0' || std::strlen(block.text) > size) std::abort();

    NoWindow window;
    lumora::DeviceDiscovery discovery(window, nullptr);
    const bool added = discovery.HandleAnnouncement(block);
    // The same announcement again is never a new instrument.
    if (discovery.HandleAnnouncement(block)) std::abort();
    if (discovery.Devices().size() != (added ? 1u : 0u) || discovery.Rows().size() != discovery.Devices().size())
        std::abort();
    if (added && discovery.RowUrl(0).rfind("http://", 0) != 0) std::abort();
    return 0;
}
