#include "QlLib/Platform/qlGlApi.h"

#include <GL/glcorearb.h>

#include <vector>

namespace ql {

// Every GL entry point the device uses, loaded through the context (no
// loader library): name, pointer type.
#define QL_GL_FUNCTIONS(X)                                         \
    X(glGetError, PFNGLGETERRORPROC)                               \
    X(glGetIntegerv, PFNGLGETINTEGERVPROC)                         \
    X(glGetString, PFNGLGETSTRINGPROC)                             \
    X(glEnable, PFNGLENABLEPROC)                                   \
    X(glDisable, PFNGLDISABLEPROC)                                 \
    X(glGenTextures, PFNGLGENTEXTURESPROC)                         \
    X(glDeleteTextures, PFNGLDELETETEXTURESPROC)                   \
    X(glBindTexture, PFNGLBINDTEXTUREPROC)                         \
    X(glActiveTexture, PFNGLACTIVETEXTUREPROC)                     \
    X(glTexImage2D, PFNGLTEXIMAGE2DPROC)                           \
    X(glTexSubImage2D, PFNGLTEXSUBIMAGE2DPROC)                     \
    X(glTexParameteri, PFNGLTEXPARAMETERIPROC)                     \
    X(glTexParameteriv, PFNGLTEXPARAMETERIVPROC)                   \
    X(glPixelStorei, PFNGLPIXELSTOREIPROC)                         \
    X(glGenFramebuffers, PFNGLGENFRAMEBUFFERSPROC)                 \
    X(glDeleteFramebuffers, PFNGLDELETEFRAMEBUFFERSPROC)           \
    X(glBindFramebuffer, PFNGLBINDFRAMEBUFFERPROC)                 \
    X(glFramebufferTexture2D, PFNGLFRAMEBUFFERTEXTURE2DPROC)       \
    X(glCheckFramebufferStatus, PFNGLCHECKFRAMEBUFFERSTATUSPROC)   \
    X(glBlitFramebuffer, PFNGLBLITFRAMEBUFFERPROC)                 \
    X(glViewport, PFNGLVIEWPORTPROC)                               \
    X(glScissor, PFNGLSCISSORPROC)                                 \
    X(glClearColor, PFNGLCLEARCOLORPROC)                           \
    X(glClear, PFNGLCLEARPROC)                                     \
    X(glBlendFunc, PFNGLBLENDFUNCPROC)                             \
    X(glBlendEquation, PFNGLBLENDEQUATIONPROC)                     \
    X(glCreateShader, PFNGLCREATESHADERPROC)                       \
    X(glDeleteShader, PFNGLDELETESHADERPROC)                       \
    X(glShaderSource, PFNGLSHADERSOURCEPROC)                       \
    X(glCompileShader, PFNGLCOMPILESHADERPROC)                     \
    X(glGetShaderiv, PFNGLGETSHADERIVPROC)                         \
    X(glGetShaderInfoLog, PFNGLGETSHADERINFOLOGPROC)               \
    X(glCreateProgram, PFNGLCREATEPROGRAMPROC)                     \
    X(glDeleteProgram, PFNGLDELETEPROGRAMPROC)                     \
    X(glAttachShader, PFNGLATTACHSHADERPROC)                       \
    X(glLinkProgram, PFNGLLINKPROGRAMPROC)                         \
    X(glGetProgramiv, PFNGLGETPROGRAMIVPROC)                       \
    X(glGetProgramInfoLog, PFNGLGETPROGRAMINFOLOGPROC)             \
    X(glUseProgram, PFNGLUSEPROGRAMPROC)                           \
    X(glGetUniformLocation, PFNGLGETUNIFORMLOCATIONPROC)           \
    X(glUniform1i, PFNGLUNIFORM1IPROC)                             \
    X(glUniform4f, PFNGLUNIFORM4FPROC)                             \
    X(glGenVertexArrays, PFNGLGENVERTEXARRAYSPROC)                 \
    X(glDeleteVertexArrays, PFNGLDELETEVERTEXARRAYSPROC)           \
    X(glBindVertexArray, PFNGLBINDVERTEXARRAYPROC)                 \
    X(glGenBuffers, PFNGLGENBUFFERSPROC)                           \
    X(glDeleteBuffers, PFNGLDELETEBUFFERSPROC)                     \
    X(glBindBuffer, PFNGLBINDBUFFERPROC)                           \
    X(glBufferData, PFNGLBUFFERDATAPROC)                           \
    X(glEnableVertexAttribArray, PFNGLENABLEVERTEXATTRIBARRAYPROC) \
    X(glVertexAttribPointer, PFNGLVERTEXATTRIBPOINTERPROC)         \
    X(glDrawArrays, PFNGLDRAWARRAYSPROC)                           \
    X(glReadPixels, PFNGLREADPIXELSPROC)                           \
    X(glFinish, PFNGLFINISHPROC)

struct TGlFunctions {
#define QL_GL_MEMBER(name, type) type name = nullptr;
    QL_GL_FUNCTIONS(QL_GL_MEMBER)
#undef QL_GL_MEMBER
    // Robust contexts only (GL 4.5, ARB_ or KHR_robustness); null otherwise.
    PFNGLGETGRAPHICSRESETSTATUSPROC glGetGraphicsResetStatus = nullptr;
};

// GL_CONTEXT_LOST (GL 4.5, KHR_robustness), which 3.3 headers may lack.
constexpr GLenum kGlContextLost = 0x0507;
// The reset notification strategy of a robust context (same names).
constexpr GLenum kGlResetNotificationStrategy = 0x8256;
constexpr GLenum kGlLoseContextOnReset = 0x8252;

std::unique_ptr<TGlApi> TGlApi::Create(std::unique_ptr<TGlContext> context, std::string& error) {
    if (!context) {
        // The context's own reason, when it gave one, says more.
        if (error.empty()) error = "no GL context";
        return nullptr;
    }
    std::unique_ptr<TGlApi> api(new TGlApi);
    api->m_gl = std::make_unique<TGlFunctions>();
    TGlFunctions& gl = *api->m_gl;
#define QL_GL_LOAD(name, type)                                     \
    gl.name = reinterpret_cast<type>(context->ProcAddress(#name)); \
    if (!gl.name) {                                                \
        error = "the GL context lacks " #name;                     \
        return nullptr;                                            \
    }
    QL_GL_FUNCTIONS(QL_GL_LOAD)
#undef QL_GL_LOAD
    // A context made to lose itself on a driver reset says so when asked,
    // once a frame; other contexts learn of a reset only from failing calls
    // (if at all), and asking them would be an error of its own.
    GLint strategy = 0;
    gl.glGetIntegerv(kGlResetNotificationStrategy, &strategy);
    if (gl.glGetError() == GL_NO_ERROR && GLenum(strategy) == kGlLoseContextOnReset) {
        for (const char* name : {"glGetGraphicsResetStatus", "glGetGraphicsResetStatusARB",
                                 "glGetGraphicsResetStatusKHR"}) {
            gl.glGetGraphicsResetStatus =
                reinterpret_cast<PFNGLGETGRAPHICSRESETSTATUSPROC>(context->ProcAddress(name));
            if (gl.glGetGraphicsResetStatus) break;
        }
    }
    api->m_context = std::move(context);
    GLuint vertexArray = 0, buffer = 0;
    gl.glGenVertexArrays(1, &vertexArray);
    gl.glBindVertexArray(vertexArray);
    gl.glGenBuffers(1, &buffer);
    gl.glBindBuffer(GL_ARRAY_BUFFER, buffer);
    api->m_vertexArray = vertexArray;
    api->m_vertexBuffer = buffer;
    // Dithering would make GL frames differ from the reference device's.
    gl.glDisable(GL_DITHER);
    gl.glDisable(GL_DEPTH_TEST);
    gl.glDisable(GL_CULL_FACE);
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl.glPixelStorei(GL_PACK_ALIGNMENT, 1);
    return api;
}

TGlApi::~TGlApi() {
    if (!m_gl) return;
    if (m_vertexBuffer) m_gl->glDeleteBuffers(1, &m_vertexBuffer);
    if (m_vertexArray) m_gl->glDeleteVertexArrays(1, &m_vertexArray);
}

int32_t TGlApi::MaxTextureSize() const {
    GLint size = 0;
    m_gl->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    return size;
}

std::string TGlApi::Renderer() const {
    const GLubyte* name = m_gl->glGetString(GL_RENDERER);
    return name ? reinterpret_cast<const char*>(name) : "";
}

bool TGlApi::TakeOutOfMemory() {
    bool outOfMemory = false;
    // A GL may hold several error flags; each call returns and clears one.
    for (int32_t i = 0; i < 16; ++i) {
        const GLenum e = m_gl->glGetError();
        if (e == GL_NO_ERROR) break;
        outOfMemory |= e == GL_OUT_OF_MEMORY;
        // A reset context answers every call with this error from now on.
        m_contextLost |= e == kGlContextLost;
    }
    return outOfMemory;
}

bool TGlApi::NoticesResets() const {
    return m_gl->glGetGraphicsResetStatus != nullptr;
}

bool TGlApi::TakeContextLost() {
    TakeOutOfMemory();
    // Any reset counts, ours or another program's: the context is gone
    // either way and has to be made again.
    if (m_gl->glGetGraphicsResetStatus && m_gl->glGetGraphicsResetStatus() != GL_NO_ERROR)
        m_contextLost = true;
    return m_contextLost;
}

uint32_t TGlApi::CreateTexture(int32_t width, int32_t height, int32_t levels, bool grey) {
    TakeOutOfMemory();
    GLuint texture = 0;
    m_gl->glGenTextures(1, &texture);
    m_gl->glBindTexture(GL_TEXTURE_2D, texture);
    for (int32_t level = 0; level < levels; ++level) {
        m_gl->glTexImage2D(GL_TEXTURE_2D, level, grey ? GL_R8 : GL_RGBA8, width, height, 0,
                           grey ? GL_RED : GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
    }
    m_gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    m_gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, levels - 1);
    m_gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    m_gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    if (grey) {
        const GLint swizzle[4] = {GL_RED, GL_RED, GL_RED, GL_ONE};
        m_gl->glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
    }
    if (TakeOutOfMemory()) {
        m_gl->glDeleteTextures(1, &texture);
        return 0;
    }
    return texture;
}

void TGlApi::DeleteTexture(uint32_t texture) {
    if (texture) m_gl->glDeleteTextures(1, &texture);
}

void TGlApi::UploadTexture(uint32_t texture, int32_t level, int32_t width, int32_t height,
                           bool grey, const uint8_t* pixels, int32_t rowBytes) {
    m_gl->glBindTexture(GL_TEXTURE_2D, texture);
    m_gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, rowBytes / (grey ? 1 : 4));
    m_gl->glTexSubImage2D(GL_TEXTURE_2D, level, 0, 0, width, height, grey ? GL_RED : GL_BGRA,
                          GL_UNSIGNED_BYTE, pixels);
    m_gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

uint32_t TGlApi::CreateFramebuffer(uint32_t texture) {
    GLuint framebuffer = 0;
    m_gl->glGenFramebuffers(1, &framebuffer);
    m_gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    m_gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    if (m_gl->glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        m_gl->glDeleteFramebuffers(1, &framebuffer);
        return 0;
    }
    return framebuffer;
}

void TGlApi::DeleteFramebuffer(uint32_t framebuffer) {
    if (framebuffer) m_gl->glDeleteFramebuffers(1, &framebuffer);
}

void TGlApi::BindFramebuffer(uint32_t framebuffer, int32_t width, int32_t height) {
    m_gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    m_gl->glViewport(0, 0, width, height);
}

void TGlApi::SetScissor(int32_t left, int32_t top, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) {
        m_gl->glDisable(GL_SCISSOR_TEST);
        return;
    }
    m_gl->glEnable(GL_SCISSOR_TEST);
    m_gl->glScissor(left, top, width, height);
}

void TGlApi::Clear(float r, float g, float b, float a) {
    m_gl->glClearColor(r, g, b, a);
    m_gl->glClear(GL_COLOR_BUFFER_BIT);
}

namespace {

GLuint CompileStage(const TGlFunctions& gl, GLenum stage, const char* source, std::string& log) {
    const GLuint shader = gl.glCreateShader(stage);
    gl.glShaderSource(shader, 1, &source, nullptr);
    gl.glCompileShader(shader);
    GLint ok = 0;
    gl.glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok) return shader;
    GLint length = 0;
    gl.glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> text(size_t(length > 0 ? length : 1) + 1, '\0');
    gl.glGetShaderInfoLog(shader, GLsizei(text.size() - 1), nullptr, text.data());
    log = text.data();
    gl.glDeleteShader(shader);
    return 0;
}

}  // namespace

uint32_t TGlApi::CreateProgram(const char* vertexSource, const char* fragmentSource,
                               std::string& log) {
    const GLuint vertex = CompileStage(*m_gl, GL_VERTEX_SHADER, vertexSource, log);
    if (!vertex) return 0;
    const GLuint fragment = CompileStage(*m_gl, GL_FRAGMENT_SHADER, fragmentSource, log);
    if (!fragment) {
        m_gl->glDeleteShader(vertex);
        return 0;
    }
    const GLuint program = m_gl->glCreateProgram();
    m_gl->glAttachShader(program, vertex);
    m_gl->glAttachShader(program, fragment);
    m_gl->glLinkProgram(program);
    m_gl->glDeleteShader(vertex);
    m_gl->glDeleteShader(fragment);
    GLint ok = 0;
    m_gl->glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok) return program;
    GLint length = 0;
    m_gl->glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> text(size_t(length > 0 ? length : 1) + 1, '\0');
    m_gl->glGetProgramInfoLog(program, GLsizei(text.size() - 1), nullptr, text.data());
    log = text.data();
    m_gl->glDeleteProgram(program);
    return 0;
}

void TGlApi::DeleteProgram(uint32_t program) {
    if (program) m_gl->glDeleteProgram(program);
}

int32_t TGlApi::UniformLocation(uint32_t program, const char* name) const {
    return m_gl->glGetUniformLocation(program, name);
}

void TGlApi::UseProgram(uint32_t program) {
    m_gl->glUseProgram(program);
}

void TGlApi::SetUniform(int32_t location, int32_t value) {
    if (location >= 0) m_gl->glUniform1i(location, value);
}

void TGlApi::SetUniform(int32_t location, float x, float y, float z, float w) {
    if (location >= 0) m_gl->glUniform4f(location, x, y, z, w);
}

void TGlApi::BindTexture(int32_t unit, uint32_t texture, bool bilinear) {
    m_gl->glActiveTexture(GLenum(GL_TEXTURE0 + unit));
    m_gl->glBindTexture(GL_TEXTURE_2D, texture);
    // Filtering is a draw's choice, so it is set at every bind; only level 0
    // is sampled, as the reference device does.
    const GLint filter = bilinear ? GL_LINEAR : GL_NEAREST;
    m_gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    m_gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
}

void TGlApi::SetBlend(TGlBlend blend) {
    if (blend == TGlBlend::None) {
        m_gl->glDisable(GL_BLEND);
        return;
    }
    m_gl->glEnable(GL_BLEND);
    // The maximum ignores the factors.
    m_gl->glBlendEquation(blend == TGlBlend::Max ? GL_MAX : GL_FUNC_ADD);
    m_gl->glBlendFunc(GL_ONE, blend == TGlBlend::Add ? GL_ONE : GL_ONE_MINUS_SRC_ALPHA);
}

void TGlApi::DrawTriangles(const void* vertices, size_t stride, int32_t count,
                           std::span<const TGlAttribute> attributes) {
    if (count < 3) return;
    m_gl->glBindVertexArray(m_vertexArray);
    m_gl->glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
    // A fresh store for every draw: the driver need not wait for the last one.
    m_gl->glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(stride * size_t(count)), vertices,
                       GL_STREAM_DRAW);
    for (const TGlAttribute& a : attributes) {
        m_gl->glEnableVertexAttribArray(GLuint(a.location));
        m_gl->glVertexAttribPointer(GLuint(a.location), a.components,
                                    a.normalisedBytes ? GL_UNSIGNED_BYTE : GL_FLOAT,
                                    a.normalisedBytes ? GL_TRUE : GL_FALSE, GLsizei(stride),
                                    reinterpret_cast<const void*>(a.offset));
    }
    m_gl->glDrawArrays(GL_TRIANGLES, 0, count);
}

void TGlApi::ReadPixels(int32_t left, int32_t top, int32_t width, int32_t height, uint8_t* dst,
                        int32_t rowBytes) {
    m_gl->glPixelStorei(GL_PACK_ROW_LENGTH, rowBytes / 4);
    m_gl->glReadPixels(left, top, width, height, GL_BGRA, GL_UNSIGNED_BYTE, dst);
    m_gl->glPixelStorei(GL_PACK_ROW_LENGTH, 0);
}

void TGlApi::BlitToWindow(uint32_t framebuffer, int32_t width, int32_t height) {
    int32_t windowWidth = 0, windowHeight = 0;
    m_context->DrawableSize(windowWidth, windowHeight);
    m_gl->glDisable(GL_SCISSOR_TEST);
    m_gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    m_gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    m_gl->glBlitFramebuffer(0, 0, width, height, 0, windowHeight, windowWidth, 0,
                            GL_COLOR_BUFFER_BIT, GL_LINEAR);
    m_gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
}

}  // namespace ql
