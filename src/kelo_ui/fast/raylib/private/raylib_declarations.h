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

// raylib's structs, each declared once: X(struct, lower-case name, fields), where fields(F, S)
// lists F(S, C++ type, member, the binding's cname of the member's type). The
// structs and the binding check's tables are both made from it.
// clang-format off: a row a struct, as the C side declares them.
#define KL_TEXTURE_FIELDS(F, S) \
    F(S, unsigned int, id, "unsigned int") F(S, int, width, "int") F(S, int, height, "int") \
    F(S, int, mipmaps, "int") F(S, int, format, "int")
#define KL_RENDER_TEXTURE_FIELDS(F, S) \
    F(S, unsigned int, id, "unsigned int") F(S, Texture, texture, "struct Texture") \
    F(S, Texture, depth, "struct Texture")
#define KL_RECTANGLE_FIELDS(F, S) \
    F(S, float, x, "float") F(S, float, y, "float") F(S, float, width, "float") F(S, float, height, "float")
#define KL_VECTOR2_FIELDS(F, S) F(S, float, x, "float") F(S, float, y, "float")
#define KL_COLOR_FIELDS(F, S) \
    F(S, unsigned char, r, "unsigned char") F(S, unsigned char, g, "unsigned char") \
    F(S, unsigned char, b, "unsigned char") F(S, unsigned char, a, "unsigned char")
#define KL_IMAGE_FIELDS(F, S) \
    F(S, void*, data, "void *") F(S, int, width, "int") F(S, int, height, "int") \
    F(S, int, mipmaps, "int") F(S, int, format, "int")
#define KL_VECTOR3_FIELDS(F, S) F(S, float, x, "float") F(S, float, y, "float") F(S, float, z, "float")
#define KL_MATRIX_FIELDS(F, S) \
    F(S, float, m0, "float") F(S, float, m4, "float") F(S, float, m8, "float") F(S, float, m12, "float") \
    F(S, float, m1, "float") F(S, float, m5, "float") F(S, float, m9, "float") F(S, float, m13, "float") \
    F(S, float, m2, "float") F(S, float, m6, "float") F(S, float, m10, "float") F(S, float, m14, "float") \
    F(S, float, m3, "float") F(S, float, m7, "float") F(S, float, m11, "float") F(S, float, m15, "float")
#define KL_SHADER_FIELDS(F, S) F(S, unsigned int, id, "unsigned int") F(S, int*, locs, "int *")
#define KL_CAMERA2D_FIELDS(F, S) \
    F(S, Vector2, offset, "struct Vector2") F(S, Vector2, target, "struct Vector2") \
    F(S, float, rotation, "float") F(S, float, zoom, "float")
#define KL_CAMERA3D_FIELDS(F, S) \
    F(S, Vector3, position, "struct Vector3") F(S, Vector3, target, "struct Vector3") \
    F(S, Vector3, up, "struct Vector3") F(S, float, fovy, "float") F(S, int, projection, "int")
#define KELO_RAYLIB_STRUCTS(X) \
    X(Texture, texture, KL_TEXTURE_FIELDS) X(RenderTexture, render_texture, KL_RENDER_TEXTURE_FIELDS) \
    X(Rectangle, rectangle, KL_RECTANGLE_FIELDS) X(Vector2, vector2, KL_VECTOR2_FIELDS) \
    X(Color, color, KL_COLOR_FIELDS) X(Image, image, KL_IMAGE_FIELDS) X(Vector3, vector3, KL_VECTOR3_FIELDS) \
    X(Matrix, matrix, KL_MATRIX_FIELDS) X(Shader, shader, KL_SHADER_FIELDS) \
    X(Camera2D, camera2d, KL_CAMERA2D_FIELDS) X(Camera3D, camera3d, KL_CAMERA3D_FIELDS)
// clang-format on

namespace rl {
#define KL_MEMBER(S, type, member, cname) type member;
#define KL_STRUCT(name, lower, fields) \
    struct name {                      \
        fields(KL_MEMBER, name)        \
    };                                 \
    static_assert(std::is_standard_layout_v<name>, "raylib's " #name " as its C side has it");
KELO_RAYLIB_STRUCTS(KL_STRUCT)
#undef KL_STRUCT
#undef KL_MEMBER
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
#define KELO_RAYLIB_C_FUNCTIONS(X)                                                                                    \
    X(InitWindow, void, (int, int, const char*), "void(*)(int, int, char *)")                                         \
    X(CloseWindow, void, (), "void(*)()")                                                                             \
    X(IsWindowReady, bool, (), "_Bool(*)()")                                                                          \
    X(SetConfigFlags, void, (unsigned int), "void(*)(unsigned int)")                                                  \
    X(BeginDrawing, void, (), "void(*)()")                                                                            \
    X(EndDrawing, void, (), "void(*)()")                                                                              \
    X(BeginTextureMode, void, (rl::RenderTexture), "void(*)(struct RenderTexture)")                                   \
    X(EndTextureMode, void, (), "void(*)()")                                                                          \
    X(BeginBlendMode, void, (int), "void(*)(int)")                                                                    \
    X(EndBlendMode, void, (), "void(*)()")                                                                            \
    X(ClearBackground, void, (rl::Color), "void(*)(struct Color)")                                                    \
    X(DrawTextureRec, void, (rl::Texture, rl::Rectangle, rl::Vector2, rl::Color),                                     \
      "void(*)(struct Texture, struct Rectangle, struct Vector2, struct Color)")                                      \
    X(DrawTexturePro, void, (rl::Texture, rl::Rectangle, rl::Rectangle, rl::Vector2, float, rl::Color),               \
      "void(*)(struct Texture, struct Rectangle, struct Rectangle, struct Vector2, float, struct Color)")             \
    X(LoadRenderTexture, rl::RenderTexture, (int, int), "struct RenderTexture(*)(int, int)")                          \
    X(UnloadRenderTexture, void, (rl::RenderTexture), "void(*)(struct RenderTexture)")                                \
    X(SetTextureWrap, void, (rl::Texture, int), "void(*)(struct Texture, int)")                                       \
    X(LoadTexture, rl::Texture, (const char*), "struct Texture(*)(char *)")                                           \
    X(LoadTextureFromImage, rl::Texture, (rl::Image), "struct Texture(*)(struct Image)")                              \
    X(LoadTextureCubemap, rl::Texture, (rl::Image, int), "struct Texture(*)(struct Image, int)")                      \
    X(UnloadTexture, void, (rl::Texture), "void(*)(struct Texture)")                                                  \
    X(MemFree, void, (void*), "void(*)(void *)")                                                                      \
    X(rlDrawRenderBatchActive, void, (), "void(*)()")                                                                 \
    X(rlGetActiveFramebuffer, unsigned int, (), "unsigned int(*)()")                                                  \
    X(rlEnableFramebuffer, void, (unsigned int), "void(*)(unsigned int)")                                             \
    X(rlFramebufferComplete, bool, (unsigned int), "_Bool(*)(unsigned int)")                                          \
    X(rlReadTexturePixels, void*, (unsigned int, int, int, int), "void *(*)(unsigned int, int, int, int)")            \
    X(rlViewport, void, (int, int, int, int), "void(*)(int, int, int, int)")                                          \
    X(rlMatrixMode, void, (int), "void(*)(int)")                                                                      \
    X(rlLoadIdentity, void, (), "void(*)()")                                                                          \
    X(rlOrtho, void, (float, float, float, float, float, float), "void(*)(float, float, float, float, float, float)") \
    X(rlEnableScissorTest, void, (), "void(*)()")                                                                     \
    X(rlDisableScissorTest, void, (), "void(*)()")                                                                    \
    X(rlScissor, void, (int, int, int, int), "void(*)(int, int, int, int)")                                           \
    X(BeginScissorMode, void, (int, int, int, int), "void(*)(int, int, int, int)")                                    \
    X(EndScissorMode, void, (), "void(*)()")                                                                          \
    X(BeginShaderMode, void, (rl::Shader), "void(*)(struct Shader)")                                                  \
    X(EndShaderMode, void, (), "void(*)()")                                                                           \
    X(BeginMode2D, void, (rl::Camera2D), "void(*)(struct Camera2D)")                                                  \
    X(EndMode2D, void, (), "void(*)()")                                                                               \
    X(BeginMode3D, void, (rl::Camera3D), "void(*)(struct Camera3D)")                                                  \
    X(EndMode3D, void, (), "void(*)()")                                                                               \
    X(rlPushMatrix, void, (), "void(*)()")                                                                            \
    X(rlPopMatrix, void, (), "void(*)()")                                                                             \
    X(rlTranslatef, void, (float, float, float), "void(*)(float, float, float)")                                      \
    X(rlRotatef, void, (float, float, float, float), "void(*)(float, float, float, float)")                           \
    X(rlScalef, void, (float, float, float), "void(*)(float, float, float)")                                          \
    X(rlMultMatrixf, void, (const float*), "void(*)(float *)")                                                        \
    X(rlGetMatrixModelview, rl::Matrix, (), "struct Matrix(*)()")                                                     \
    X(rlGetMatrixProjection, rl::Matrix, (), "struct Matrix(*)()")                                                    \
    X(rlGetMatrixTransform, rl::Matrix, (), "struct Matrix(*)()")                                                     \
    X(rlSetMatrixModelview, void, (rl::Matrix), "void(*)(struct Matrix)")                                             \
    X(rlSetMatrixProjection, void, (rl::Matrix), "void(*)(struct Matrix)")                                            \
    X(rlEnableDepthTest, void, (), "void(*)()")                                                                       \
    X(rlDisableDepthTest, void, (), "void(*)()")                                                                      \
    X(ImageCrop, void, (rl::Image*, rl::Rectangle), "void(*)(struct Image *, struct Rectangle)")                      \
    X(UpdateTextureRec, void, (rl::Texture, rl::Rectangle, const void*),                                              \
      "void(*)(struct Texture, struct Rectangle, void *)")                                                            \
    X(UnloadShader, void, (rl::Shader), "void(*)(struct Shader)")                                                     \
    X(GetRenderWidth, int, (), "int(*)()")                                                                            \
    X(GetRenderHeight, int, (), "int(*)()")                                                                           \
    X(PollInputEvents, void, (), "void(*)()")                                                                         \
    X(GetPixelDataSize, int, (int, int, int), "int(*)(int, int, int)")

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

#define KL_FIELD(S, type, member, cname) DeclaredField{#member, cname, offsetof(rl::S, member)},
#define KL_FIELDS(name, lower, fields) inline constexpr DeclaredField lower##_fields[] = {fields(KL_FIELD, name)};
KELO_RAYLIB_STRUCTS(KL_FIELDS)
#undef KL_FIELDS
#undef KL_FIELD

// The index of each struct in declared_structs: texture_struct, ...
enum StructIndex : std::size_t {
#define KL_INDEX(name, lower, fields) lower##_struct,
    KELO_RAYLIB_STRUCTS(KL_INDEX)
#undef KL_INDEX
        struct_count
};

inline constexpr DeclaredStruct declared_structs[struct_count] = {
#define KL_STRUCT(name, lower, fields) \
    {#name, "struct " #name, sizeof(rl::name), lower##_fields, std::size(lower##_fields)},
    KELO_RAYLIB_STRUCTS(KL_STRUCT)
#undef KL_STRUCT
};

}  // namespace kelo_raylib::native
