#include "OrbLib2/OrbViewer/qlOrbMusicLoader2.h"

#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

TOrbChannel::~TOrbChannel() {
    if (!Output) return;
    ql::GlobalLog().WriteLine("+++++++++++++++++++ Destroy Channel " + ql::ToUtf8(Name.substr(0, 96)) + " Time " +
                              std::to_string(int64_t(ql::PreciseTickMs())));
    Output.reset();
}

TMusicLoader::TMusicLoader(ql::TMusicPlayer* device, ql::TThreadEventList* player)
    : m_device(device), m_player(player) {}

TMusicLoader::~TMusicLoader() { Stop(); }

void TMusicLoader::HandleEvent(ql::TMessageItem& item) {
    auto* container = item.PayloadAs<TChannelContainer>();
    if (!container) return;
    Handle(item.Code(), std::move(container->Channel));
    item.Handled = true;
}

void TMusicLoader::Handle(int32_t code, ql::TRef<TOrbChannel> channel) {
    if (!channel) return;
    if (code == kEventCreate) {
        Create(std::move(channel));
    } else if (code == kEventRelease) {
        // The last reference may go here: destroying an output channel waits
        // for its fade-out, which must not hold up the player.
        channel = nullptr;
    }
}

void TMusicLoader::Create(ql::TRef<TOrbChannel> channel) {
    std::unique_ptr<ql::TChannel> output;
    if (m_device) {
        try {
            output = m_device->CreateChannel(channel->Name, channel->Offset);
        } catch (const std::exception& e) {
            ql::GlobalLog().WriteLine(std::string("Channel create: ") + e.what());
        }
    }
    if (!output) {
        ql::GlobalLog().WriteLine("+++++++++++++++++++ Channel Create ERROR");
        channel->Failed.store(true);
    } else {
        const double length = output->MediaLength();
        if (length >= 0) channel->LoadedEnd = channel->StartTime + (length - channel->Offset);
        channel->Output = std::move(output);
        channel->Created.store(true);
    }
    if (m_receiver) {
        m_receiver(std::move(channel));
    } else if (m_player) {
        m_player->Post(kEventReceived, std::make_unique<TChannelContainer>(std::move(channel)));
    }
}

}  // namespace orb
