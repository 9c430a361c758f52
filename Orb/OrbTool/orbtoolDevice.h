// The render device an orbtool subcommand draws on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "OrbLib2/3DBasics/qlRenderDevice.h"

namespace orb::tool {

// "gl": the OpenGL device on a headless context (no display needed); anything
// else: the software device with THREADS drawing threads. Null, with the
// reason in ERROR, when OpenGL is not available.
std::unique_ptr<TRenderDevice> MakeDevice(const std::string& name, int32_t width, int32_t height,
                                          int32_t threads, std::string& error);

}  // namespace orb::tool
