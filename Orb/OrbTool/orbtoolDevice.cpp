#include "Orb/OrbTool/orbtoolDevice.h"

#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"

namespace orb::tool {

std::unique_ptr<TRenderDevice> MakeDevice(const std::string& name, int32_t width, int32_t height,
                                          int32_t threads, std::string& error) {
    if (name == "gl") return TGlDevice::CreateHeadless(width, height, error);
    TSoftDeviceOptions options{width, height};
    options.threads = threads;
    return std::make_unique<TSoftDevice>(options);
}

}  // namespace orb::tool
