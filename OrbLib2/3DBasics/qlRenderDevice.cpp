#include "OrbLib2/3DBasics/qlRenderDevice.h"

#include <algorithm>
#include <cctype>

#include "QlLib/qlLog.h"

namespace orb {

TDxResult LogDxResult(TDxResult result) {
    if (result != TDxResult::Ok) ql::GlobalLog().WriteInt(u"Dx Error = ", int64_t(result));
    return result;
}

int64_t CapsValue(const TDeviceCaps& caps, const std::string& name) {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (key == "maxtexwidth") return caps.maxTexWidth;
    if (key == "maxtexheight") return caps.maxTexHeight;
    if (key == "maxanisotropy") return caps.maxAnisotropy;
    if (key == "raster") return caps.raster;
    if (key == "vendor") return caps.vendor;
    if (key == "pixelshaderversion") return caps.pixelShaderVersion;
    return 0;
}

int32_t ShaderLevel(const TDeviceCaps& caps) {
    if (caps.pixelShaderVersion < 0x0200) return 0;
    if (caps.vendor == 0x8086 && caps.pixelShaderVersion < 0x0300) return 1;
    return 2;
}

int64_t TRenderDevice::TextureBytes(const TTextureDesc& desc) {
    const int64_t bpp = desc.format == TTexelFormat::L8 ? 1 : 4;
    int64_t bytes = 0;
    int64_t w = std::max(desc.width, 1), h = std::max(desc.height, 1);
    for (int32_t level = 0; level < std::max(desc.mipLevels, 1); ++level) {
        bytes += w * h * bpp;
        w = std::max<int64_t>(w / 2, 1);
        h = std::max<int64_t>(h / 2, 1);
    }
    return bytes;
}

}  // namespace orb
