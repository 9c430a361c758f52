#include "QlLib/Platform/qlSdlAudioOutput.h"

#include <SDL.h>

#include <string>

#include "QlLib/qlLog.h"

#define QL_SDL_TRACE(text)                                                   \
    ::ql::GlobalLog().WriteLine(std::string(text) + " [qlSdlAudioOutput, " + \
                                std::to_string(__LINE__) + "]")

namespace ql::platform {

TSdlAudioStream::~TSdlAudioStream() {
    Close();
}

bool TSdlAudioStream::Open(int32_t rate, int32_t bufferFrames, TAudioFillCallback callback) {
    Close();
    m_callback = std::move(callback);
    QL_SDL_TRACE("-> SDL_InitSubSystem");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        QL_SDL_TRACE(std::string("<- !!! SDL_InitSubSystem: ") + SDL_GetError());
        return false;
    }
    QL_SDL_TRACE("<- SDL_InitSubSystem");
    m_subsystem = true;

    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = uint16_t(bufferFrames > 0 && bufferFrames <= 32768 ? bufferFrames : 1024);
    wanted.callback = &TSdlAudioStream::Trampoline;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    QL_SDL_TRACE("-> SDL_OpenAudioDevice");
    // Format, rate and channels are fixed: SDL converts when the card differs.
    m_device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
    if (m_device == 0) {
        QL_SDL_TRACE(std::string("<- !!! SDL_OpenAudioDevice: ") + SDL_GetError());
        Close();
        return false;
    }
    QL_SDL_TRACE("<- SDL_OpenAudioDevice");
    m_bufferFrames = obtained.samples;
    QL_SDL_TRACE("-> SDL_PauseAudioDevice");
    SDL_PauseAudioDevice(m_device, 0);
    QL_SDL_TRACE("<- SDL_PauseAudioDevice");
    return true;
}

void TSdlAudioStream::Close() {
    if (m_device != 0) {
        QL_SDL_TRACE("-> SDL_CloseAudioDevice");
        SDL_CloseAudioDevice(m_device);  // waits for a running callback
        QL_SDL_TRACE("<- SDL_CloseAudioDevice");
        m_device = 0;
    }
    if (m_subsystem) {
        QL_SDL_TRACE("-> SDL_QuitSubSystem");
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        QL_SDL_TRACE("<- SDL_QuitSubSystem");
        m_subsystem = false;
    }
    m_bufferFrames = 0;
}

bool TSdlAudioStream::Lost() const {
    return m_device != 0 && SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_STOPPED;
}

void TSdlAudioStream::Trampoline(void* self, uint8_t* stream, int length) {
    auto* me = static_cast<TSdlAudioStream*>(self);
    const size_t frames = size_t(length > 0 ? length : 0) / 4;
    if (me->m_callback)
        me->m_callback(reinterpret_cast<int16_t*>(stream), frames);
    else
        SDL_memset(stream, 0, size_t(length));
}

}  // namespace ql::platform
