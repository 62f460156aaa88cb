// raylib's C side as the window context calls it: its structs, declared as
// plain standard-layout structs, and its functions as pointers taking them by
// value (the x86-64 calling convention passes such structs exactly as the C
// compiler does for the same definitions). The tables below describe the
// same declarations to the one-time binding check (binding_check.h), which
// refuses a binding whose structs or functions differ from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <type_traits>

namespace kelo_raylib::native {

// ------------------------------------------------------------ raylib's C side

namespace rl {
struct Texture {
    unsigned int id;
    int width;
    int height;
    int mipmaps;
    int format;
};
struct RenderTexture {
    unsigned int id;
    Texture texture;
    Texture depth;
};
struct Rectangle {
    float x;
    float y;
    float width;
    float height;
};
struct Vector2 {
    float x;
    float y;
};
struct Color {
    unsigned char r;
    unsigned char g;
    unsigned char b;
    unsigned char a;
};
struct Image {
    void* data;
    int width;
    int height;
    int mipmaps;
    int format;
};
static_assert(std::is_standard_layout_v<Texture> && std::is_standard_layout_v<RenderTexture> &&
              std::is_standard_layout_v<Rectangle> && std::is_standard_layout_v<Vector2> &&
              std::is_standard_layout_v<Color> && std::is_standard_layout_v<Image>);
}  // namespace rl

// raylib's BlendMode: BLEND_ALPHA (0) to BLEND_CUSTOM_SEPARATE (7).
inline constexpr int blend_mode_count = 8;

inline constexpr rl::Color white{255, 255, 255, 255};
inline constexpr rl::Color blank{0, 0, 0, 0};
// raylib's PIXELFORMAT_UNCOMPRESSED_R8G8B8A8, the format of its render textures.
inline constexpr int rgba8 = 7;
// raylib's TEXTURE_WRAP_CLAMP.
inline constexpr int wrap_clamp = 1;
// rlgl's matrix modes (RL_MODELVIEW, RL_PROJECTION: GL's own numbers).
inline constexpr int rl_modelview = 0x1700;
inline constexpr int rl_projection = 0x1701;

// Every raylib function the context calls, X(name, result, parameters, the
// binding's cname of its pointer); the table of addresses and the binding
// check's list are both made from it.
#define KELO_RAYLIB_C_FUNCTIONS(X)                                                                                 \
    X(InitWindow, void, (int, int, const char*), "void(*)(int, int, char *)")                                   \
    X(CloseWindow, void, (), "void(*)()")                                                                         \
    X(IsWindowReady, bool, (), "_Bool(*)()")                                                                      \
    X(SetConfigFlags, void, (unsigned int), "void(*)(unsigned int)")                                              \
    X(BeginDrawing, void, (), "void(*)()")                                                                        \
    X(EndDrawing, void, (), "void(*)()")                                                                          \
    X(BeginTextureMode, void, (rl::RenderTexture), "void(*)(struct RenderTexture)")                              \
    X(EndTextureMode, void, (), "void(*)()")                                                                      \
    X(BeginBlendMode, void, (int), "void(*)(int)")                                                                \
    X(EndBlendMode, void, (), "void(*)()")                                                                        \
    X(ClearBackground, void, (rl::Color), "void(*)(struct Color)")                                                \
    X(DrawTextureRec, void, (rl::Texture, rl::Rectangle, rl::Vector2, rl::Color),                                 \
      "void(*)(struct Texture, struct Rectangle, struct Vector2, struct Color)")                                  \
    X(DrawTexturePro, void, (rl::Texture, rl::Rectangle, rl::Rectangle, rl::Vector2, float, rl::Color),          \
      "void(*)(struct Texture, struct Rectangle, struct Rectangle, struct Vector2, float, struct Color)")         \
    X(LoadRenderTexture, rl::RenderTexture, (int, int), "struct RenderTexture(*)(int, int)")                     \
    X(UnloadRenderTexture, void, (rl::RenderTexture), "void(*)(struct RenderTexture)")                           \
    X(SetTextureWrap, void, (rl::Texture, int), "void(*)(struct Texture, int)")                                  \
    X(LoadTexture, rl::Texture, (const char*), "struct Texture(*)(char *)")                                     \
    X(LoadTextureFromImage, rl::Texture, (rl::Image), "struct Texture(*)(struct Image)")                         \
    X(LoadTextureCubemap, rl::Texture, (rl::Image, int), "struct Texture(*)(struct Image, int)")                 \
    X(UnloadTexture, void, (rl::Texture), "void(*)(struct Texture)")                                              \
    X(MemFree, void, (void*), "void(*)(void *)")                                                                  \
    X(rlDrawRenderBatchActive, void, (), "void(*)()")                                                             \
    X(rlGetActiveFramebuffer, unsigned int, (), "unsigned int(*)()")                                              \
    X(rlEnableFramebuffer, void, (unsigned int), "void(*)(unsigned int)")                                         \
    X(rlFramebufferComplete, bool, (unsigned int), "_Bool(*)(unsigned int)")                                      \
    X(rlReadTexturePixels, void*, (unsigned int, int, int, int), "void *(*)(unsigned int, int, int, int)")     \
    X(rlViewport, void, (int, int, int, int), "void(*)(int, int, int, int)")                                     \
    X(rlMatrixMode, void, (int), "void(*)(int)")                                                                  \
    X(rlLoadIdentity, void, (), "void(*)()")                                                                      \
    X(rlOrtho, void, (float, float, float, float, float, float),                                                 \
      "void(*)(float, float, float, float, float, float)")                                                        \
    X(rlEnableScissorTest, void, (), "void(*)()")                                                                 \
    X(rlDisableScissorTest, void, (), "void(*)()")                                                                \
    X(rlScissor, void, (int, int, int, int), "void(*)(int, int, int, int)")

struct Functions {
#define KL_C_FUNCTION(name, result, parameters, cname) result(*name) parameters = nullptr;
    KELO_RAYLIB_C_FUNCTIONS(KL_C_FUNCTION)
#undef KL_C_FUNCTION
};

template <auto member>
void store_address(Functions& functions, std::uintptr_t address) {
    using Pointer = std::remove_reference_t<decltype(functions.*member)>;
    functions.*member = reinterpret_cast<Pointer>(address);
}

struct DeclaredFunction {
    const char* name;
    const char* ctype;  // the binding's cname of the function pointer
    void (*store)(Functions&, std::uintptr_t);
};

inline constexpr DeclaredFunction declared_functions[] = {
#define KL_C_FUNCTION(name, result, parameters, cname) {#name, cname, store_address<&Functions::name>},
    KELO_RAYLIB_C_FUNCTIONS(KL_C_FUNCTION)
#undef KL_C_FUNCTION
};

struct DeclaredField {
    const char* name;
    const char* ctype;
    std::size_t offset;
};

struct DeclaredStruct {
    const char* name;   // the binding's type name
    const char* cname;  // its C name
    std::size_t size;
    const DeclaredField* fields;
    std::size_t field_count;
};

#define KL_FIELD(type, field, ctype) DeclaredField{#field, ctype, offsetof(rl::type, field)}
inline constexpr DeclaredField texture_fields[] = {
    KL_FIELD(Texture, id, "unsigned int"), KL_FIELD(Texture, width, "int"),  KL_FIELD(Texture, height, "int"),
    KL_FIELD(Texture, mipmaps, "int"),     KL_FIELD(Texture, format, "int"),
};
inline constexpr DeclaredField render_texture_fields[] = {
    KL_FIELD(RenderTexture, id, "unsigned int"),
    KL_FIELD(RenderTexture, texture, "struct Texture"),
    KL_FIELD(RenderTexture, depth, "struct Texture"),
};
inline constexpr DeclaredField rectangle_fields[] = {
    KL_FIELD(Rectangle, x, "float"),
    KL_FIELD(Rectangle, y, "float"),
    KL_FIELD(Rectangle, width, "float"),
    KL_FIELD(Rectangle, height, "float"),
};
inline constexpr DeclaredField vector2_fields[] = {KL_FIELD(Vector2, x, "float"), KL_FIELD(Vector2, y, "float")};
inline constexpr DeclaredField image_fields[] = {
    KL_FIELD(Image, data, "void *"), KL_FIELD(Image, width, "int"),   KL_FIELD(Image, height, "int"),
    KL_FIELD(Image, mipmaps, "int"), KL_FIELD(Image, format, "int"),
};
inline constexpr DeclaredField color_fields[] = {
    KL_FIELD(Color, r, "unsigned char"),
    KL_FIELD(Color, g, "unsigned char"),
    KL_FIELD(Color, b, "unsigned char"),
    KL_FIELD(Color, a, "unsigned char"),
};
#undef KL_FIELD

enum StructIndex : std::size_t {
    texture_struct,
    render_texture_struct,
    rectangle_struct,
    vector2_struct,
    color_struct,
    image_struct,
    struct_count
};

#define KL_STRUCT(type, fields) \
    DeclaredStruct { #type, "struct " #type, sizeof(rl::type), fields, std::size(fields) }
inline constexpr DeclaredStruct declared_structs[struct_count] = {
    KL_STRUCT(Texture, texture_fields),     KL_STRUCT(RenderTexture, render_texture_fields),
    KL_STRUCT(Rectangle, rectangle_fields), KL_STRUCT(Vector2, vector2_fields),
    KL_STRUCT(Color, color_fields),         KL_STRUCT(Image, image_fields),
};

}  // namespace kelo_raylib::native
