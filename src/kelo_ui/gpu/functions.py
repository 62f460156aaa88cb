"""Every function of raylib's Python binding, by what `md.rl` does with it.

`KINDS` gives each function of `pyray` (GLFW's build, `raylib`, and SDL's,
`raylib-sdl`, which lacks GLFW's own `glfw_*`) one kind:

- `FREE`: needs no window; md.rl hands out pyray's own function.
- `WINDOW`: needs the open window, on its thread, but neither draws nor
  changes what drawing does (queries, input, timing, managing the window,
  making GPU objects other than textures and render textures).
- `DRAWS`: adds to raylib's batch, drawn later into the current target, or
  sets what the drawing after it draws with.
- `AT_ONCE`: acts on the GPU at once, outside the batch: the batch is drawn
  first, so that the call lands after what was drawn before it.
- `DRAWS_AT_ONCE`: draws into the current target at once, outside the batch:
  as `DRAWS` it needs somewhere to draw, as `AT_ONCE` the batch goes first.
- `RESIZES`: may change the window's size, and with it raylib's viewport and
  projection: refused while a target's scope is open.
- `READS_BACK`: reads GPU memory: the batch is drawn and the driver finishes
  before it reads.
- `SCOPED`: drawing state the toolkit's scopes own: the window context's own
  function stands in for pyray's.
- `OWNED`: makes or releases a texture or render texture of the window: the
  window context's own function.
- `TOOLKIT`: the toolkit's own version of a window function.
- `REFUSED`: raises RuntimeError, window or not; `REFUSALS` says why, and
  what to use instead.

`CELLS` says, for every function that takes a texture or render texture, what
becomes of an atlas cell given there. A cell's struct carries its page's GPU
ids with its own size, so raylib must never be handed one as it is:

- `CONTEXT`: the window context's own function knows cells;
- `PAGE`: called with the page's texture (for predicates, whose answer is the
  same for the page);
- `DRAW`: drawn from the cell's area of its page;
- `UPDATE`: written into the cell's area of its page;
- `READ`: the cell's area of its page read back;
- `REFUSE`: raises ValueError; `CELL_REFUSALS` says why, and what to use.

Each name is declared once, in the block of its family; a name declared twice
stops the import.
"""

from __future__ import annotations

FREE = "free"
WINDOW = "window"
DRAWS = "draws"
AT_ONCE = "at_once"
DRAWS_AT_ONCE = "draws_at_once"
RESIZES = "resizes"
READS_BACK = "reads_back"
SCOPED = "scoped"
OWNED = "owned"
TOOLKIT = "toolkit"
REFUSED = "refused"

CONTEXT = "context"
PAGE = "page"
DRAW = "draw"
UPDATE = "update"
READ = "read"
REFUSE = "refuse"

KINDS: dict[str, str] = {}
REFUSALS: dict[str, str] = {}
CELLS: dict[str, str] = {}
CELL_REFUSALS: dict[str, str] = {}


def _declare(table: dict[str, str], value: str, names: str) -> list[str]:
    declared = names.split()
    for name in declared:
        if name in table:
            raise ValueError(f"{name} is declared twice in kelo_ui.gpu.functions")
        table[name] = value
    return declared


def _kind(kind: str, names: str) -> None:
    _declare(KINDS, kind, names)


def _refused(reason: str, names: str) -> None:
    for name in _declare(KINDS, REFUSED, names):
        REFUSALS[name] = reason


def _cells(policy: str, names: str, reason: str = "") -> None:
    for name in _declare(CELLS, policy, names):
        if policy == REFUSE:
            CELL_REFUSALS[name] = reason


# ---------------------------------------------------------------- FREE

# pyray's own helpers and struct makers (the lower-case struct names, and `f`,
# the last maker its import loop bound): Python only.
_kind(
    FREE,
    """
    _make_struct_constructor_function _underscore _wrap_function f getmembers isbuiltin
    float3 float16 rAudioBuffer rAudioProcessor rlBlendMode rlCullMode rlDrawCall
    rlFramebufferAttachTextureType rlFramebufferAttachType rlGlVersion rlPixelFormat rlRenderBatch
    rlShaderAttributeDataType rlShaderLocationIndex rlShaderUniformDataType rlTextureFilter
    rlTraceLogLevel rlVertexBuffer
    """,
)

# Images live in memory; raylib draws into them on the CPU.
_kind(
    FREE,
    """
    load_image load_image_raw load_image_anim load_image_anim_from_memory load_image_from_memory
    is_image_valid unload_image export_image export_image_to_memory export_image_as_code
    gen_image_color gen_image_gradient_linear gen_image_gradient_radial gen_image_gradient_square
    gen_image_checked gen_image_white_noise gen_image_perlin_noise gen_image_cellular gen_image_text
    image_copy image_from_image image_from_channel image_format image_to_pot image_crop
    image_alpha_crop image_alpha_clear image_alpha_mask image_alpha_premultiply image_blur_gaussian
    image_kernel_convolution image_resize image_resize_nn image_resize_canvas image_mipmaps
    image_dither image_flip_vertical image_flip_horizontal image_rotate image_rotate_cw
    image_rotate_ccw image_color_tint image_color_invert image_color_grayscale image_color_contrast
    image_color_brightness image_color_replace load_image_colors load_image_palette
    unload_image_colors unload_image_palette get_image_alpha_border get_image_color
    image_clear_background image_draw_pixel image_draw_pixel_v image_draw_line image_draw_line_v
    image_draw_line_ex image_draw_line_strip image_draw_triangle image_draw_triangle_gradient
    image_draw_triangle_lines image_draw_triangle_fan image_draw_triangle_strip image_draw_rectangle
    image_draw_rectangle_v image_draw_rectangle_rec image_draw_rectangle_pro
    image_draw_rectangle_lines image_draw_rectangle_lines_ex image_draw_rectangle_gradient_ex
    image_draw_circle image_draw_circle_v image_draw_circle_lines image_draw_circle_lines_v
    image_draw_circle_gradient image_draw_image image_draw_image_ex image_draw_image_rec
    image_draw_image_pro
    """,
)

# Colours and pixel formats: values only.
_kind(
    FREE,
    """
    color_is_equal fade color_to_int color_normalize color_from_normalized color_to_hsv
    color_from_hsv color_tint color_brightness color_contrast color_alpha color_alpha_blend
    color_lerp get_color get_pixel_color set_pixel_color get_pixel_data_size
    """,
)

# raymath, splines, collisions, cameras' and VR devices' matrices:
# arithmetic. The _ex projections take the target's size rather than reading
# the window's.
_kind(
    FREE,
    """
    clamp lerp normalize remap wrap float_equals
    vector2_zero vector2_one vector2_add vector2_add_value vector2_subtract vector2_subtract_value
    vector2_length vector2_length_sqr vector2_dot_product vector2_cross_product vector2_distance
    vector2_distance_sqr vector2_angle vector2_line_angle vector2_scale vector2_multiply
    vector2_negate vector2_divide vector2_normalize vector2_transform vector2_lerp vector2_reflect
    vector2_min vector2_max vector2_rotate vector2_move_towards vector2_invert vector2_clamp
    vector2_clamp_value vector2_equals vector2_refract
    vector3_zero vector3_one vector3_add vector3_add_value vector3_subtract vector3_subtract_value
    vector3_scale vector3_multiply vector3_cross_product vector3_perpendicular vector3_length
    vector3_length_sqr vector3_dot_product vector3_distance vector3_distance_sqr vector3_angle
    vector3_negate vector3_divide vector3_normalize vector3_project vector3_reject
    vector3_ortho_normalize vector3_transform vector3_rotate_by_quaternion
    vector3_rotate_by_axis_angle vector3_move_towards vector3_lerp vector3_cubic_hermite
    vector3_reflect vector3_min vector3_max vector3_barycenter vector3_unproject vector3_to_float_v
    vector3_invert vector3_clamp vector3_clamp_value vector3_equals vector3_refract
    vector4_zero vector4_one vector4_add vector4_add_value vector4_subtract vector4_subtract_value
    vector4_length vector4_length_sqr vector4_dot_product vector4_distance vector4_distance_sqr
    vector4_scale vector4_multiply vector4_negate vector4_divide vector4_normalize vector4_min
    vector4_max vector4_lerp vector4_move_towards vector4_invert vector4_equals
    matrix_determinant matrix_trace matrix_transpose matrix_invert matrix_identity matrix_add
    matrix_subtract matrix_multiply matrix_multiply_value matrix_translate matrix_rotate
    matrix_rotate_x matrix_rotate_y matrix_rotate_z matrix_rotate_xyz matrix_rotate_zyx
    matrix_scale matrix_frustum matrix_perspective matrix_ortho matrix_look_at matrix_to_float_v
    matrix_compose matrix_decompose
    quaternion_add quaternion_add_value quaternion_subtract quaternion_subtract_value
    quaternion_identity quaternion_length quaternion_normalize quaternion_invert
    quaternion_multiply quaternion_scale quaternion_divide quaternion_lerp quaternion_nlerp
    quaternion_slerp quaternion_cubic_hermite_spline quaternion_from_vector3_to_vector3
    quaternion_from_matrix quaternion_to_matrix quaternion_from_axis_angle
    quaternion_to_axis_angle quaternion_from_euler quaternion_to_euler quaternion_transform
    quaternion_equals
    get_spline_point_linear get_spline_point_basis get_spline_point_catmull_rom
    get_spline_point_bezier_quadratic get_spline_point_bezier_cubic
    check_collision_recs check_collision_circles check_collision_circle_rec
    check_collision_circle_line check_collision_point_rec check_collision_point_circle
    check_collision_point_triangle check_collision_point_line check_collision_point_poly
    check_collision_lines get_collision_rec check_collision_spheres check_collision_boxes
    check_collision_box_sphere get_ray_collision_sphere get_ray_collision_box
    get_ray_collision_mesh get_ray_collision_triangle get_ray_collision_quad
    get_camera_matrix get_camera_matrix_2d get_world_to_screen_2d get_screen_to_world_2d
    get_world_to_screen_ex get_screen_to_world_ray_ex update_camera_pro
    load_vr_stereo_config unload_vr_stereo_config
    """,
)

# rlgl's constants: its GL version, pixel formats' names, and the clip
# distances (fixed: setting them is refused).
_kind(FREE, "rl_get_version rl_get_pixel_format_name rl_get_cull_distance_near rl_get_cull_distance_far")

# What of models, meshes, animations and fonts is arrays in memory: their
# bounds, exports, glyph data, and animations before they are applied.
_kind(
    FREE,
    """
    get_mesh_bounding_box get_model_bounding_box export_mesh export_mesh_as_code
    set_model_mesh_material load_model_animations unload_model_animations is_model_animation_valid
    load_font_data gen_image_font_atlas unload_font_data
    """,
)

# Text as bytes and code points, and the spacing raylib puts between lines.
_kind(
    FREE,
    """
    load_utf8 unload_utf8 load_codepoints unload_codepoints get_codepoint_count get_codepoint
    get_codepoint_next get_codepoint_previous codepoint_to_utf8 load_text_lines unload_text_lines
    text_copy text_is_equal text_length text_format text_subtext text_remove_spaces get_text_between
    text_replace text_replace_alloc text_replace_between text_replace_between_alloc text_insert
    text_insert_alloc text_join text_split text_append text_find_index text_to_upper text_to_lower
    text_to_pascal text_to_snake text_to_camel text_to_integer text_to_float set_text_line_spacing
    """,
)

# Files, memory, compression, random values, logging, the flags a window opens
# with, and recorded input kept as a list.
_kind(
    FREE,
    """
    load_file_data unload_file_data save_file_data export_data_as_code load_file_text
    unload_file_text save_file_text set_load_file_data_callback set_save_file_data_callback
    set_load_file_text_callback set_save_file_text_callback file_rename file_remove file_copy
    file_move file_text_replace file_text_find_index file_exists directory_exists
    is_file_extension is_file_hidden get_file_length get_file_mod_time get_file_extension
    get_file_name get_file_name_without_ext get_directory_path get_prev_directory_path
    get_working_directory get_application_directory make_directory change_directory is_path_file
    is_path_directory is_path_absolute is_file_name_valid load_directory_files
    load_directory_files_ex unload_directory_files get_directory_file_count
    get_directory_file_count_ex
    mem_alloc mem_realloc mem_free
    compress_data decompress_data encode_data_base64 decode_data_base64 compute_crc32 compute_md5
    compute_sha1 compute_sha256
    set_random_seed get_random_value load_random_sequence unload_random_sequence
    set_trace_log_level trace_log set_trace_log_callback set_config_flags open_url
    load_automation_event_list unload_automation_event_list export_automation_event_list
    """,
)

# Audio has a device of its own, apart from the window.
_kind(
    FREE,
    """
    init_audio_device close_audio_device is_audio_device_ready set_master_volume get_master_volume
    load_wave load_wave_from_memory is_wave_valid load_sound load_sound_from_wave load_sound_alias
    is_sound_valid update_sound unload_wave unload_sound unload_sound_alias export_wave
    export_wave_as_code play_sound stop_sound pause_sound resume_sound is_sound_playing
    set_sound_volume set_sound_pitch set_sound_pan wave_copy wave_crop wave_format load_wave_samples
    unload_wave_samples load_music_stream load_music_stream_from_memory is_music_valid
    unload_music_stream play_music_stream is_music_stream_playing update_music_stream
    stop_music_stream pause_music_stream resume_music_stream seek_music_stream set_music_volume
    set_music_pitch set_music_pan get_music_time_length get_music_time_played load_audio_stream
    is_audio_stream_valid unload_audio_stream update_audio_stream is_audio_stream_processed
    play_audio_stream pause_audio_stream resume_audio_stream is_audio_stream_playing
    stop_audio_stream set_audio_stream_volume set_audio_stream_pitch set_audio_stream_pan
    set_audio_stream_buffer_size_default set_audio_stream_callback attach_audio_stream_processor
    detach_audio_stream_processor attach_audio_mixed_processor detach_audio_mixed_processor
    """,
)

# raygui's style values and icons: its own variables. (The first style read
# loads raygui's default style, which, with a window open, only names
# raylib's default font.)
_kind(
    FREE,
    """
    gui_enable gui_disable gui_lock gui_unlock gui_is_locked gui_set_alpha gui_set_state
    gui_get_state gui_set_style gui_get_style gui_enable_tooltip gui_disable_tooltip
    gui_set_tooltip gui_icon_text gui_set_icon_scale gui_get_icons gui_load_icons
    gui_load_icons_from_memory
    """,
)

# physac simulates in memory, on a thread of its own.
_kind(
    FREE,
    """
    init_physics run_physics_step set_physics_time_step is_physics_enabled set_physics_gravity
    create_physics_body_circle create_physics_body_rectangle create_physics_body_polygon
    physics_add_force physics_add_torque physics_shatter get_physics_bodies_count get_physics_body
    get_physics_shape_type get_physics_shape_vertices_count get_physics_shape_vertex
    set_physics_body_rotation destroy_physics_body close_physics
    """,
)

# GLFW's version and its last error may be asked for on any thread, before
# GLFW starts or after it stops.
_kind(FREE, "glfw_get_version glfw_get_version_string glfw_get_error")

# ---------------------------------------------------------------- WINDOW

# What may change the window's size, which resets raylib's viewport and
# projection to the window's: the target of an open scope would be drawn as
# if it were the window. Events (a resize among them) arrive when polled.
_kind(
    RESIZES,
    """
    set_window_state clear_window_state toggle_fullscreen toggle_borderless_windowed maximize_window
    minimize_window restore_window set_window_monitor set_window_min_size set_window_max_size
    set_window_size poll_input_events
    """,
)

# The window itself: its state, place, monitor, clipboard and cursor.
_kind(
    WINDOW,
    """
    window_should_close is_window_fullscreen is_window_hidden is_window_minimized
    is_window_maximized is_window_focused is_window_resized is_window_state
    set_window_icon set_window_icons set_window_title set_window_position set_window_opacity
    set_window_focused get_window_handle get_screen_width get_screen_height
    get_monitor_count get_current_monitor get_monitor_position get_monitor_width
    get_monitor_height get_monitor_physical_width get_monitor_physical_height
    get_monitor_refresh_rate get_window_position get_window_scale_dpi get_monitor_name
    set_clipboard_text get_clipboard_text get_clipboard_image enable_event_waiting
    disable_event_waiting show_cursor hide_cursor is_cursor_hidden enable_cursor disable_cursor
    is_cursor_on_screen get_screen_to_world_ray get_world_to_screen
    """,
)

# Time is the window's clock; wait_time spins on it, and never returns
# without a window.
_kind(WINDOW, "set_target_fps get_frame_time get_time get_fps wait_time")

# Input, polled; its gestures, dropped files and recording; the camera that
# input moves.
_kind(
    WINDOW,
    """
    is_key_pressed is_key_pressed_repeat is_key_down is_key_released is_key_up get_key_pressed
    get_char_pressed get_key_name set_exit_key is_gamepad_available get_gamepad_name
    is_gamepad_button_pressed is_gamepad_button_down is_gamepad_button_released
    is_gamepad_button_up get_gamepad_button_pressed get_gamepad_axis_count
    get_gamepad_axis_movement set_gamepad_mappings set_gamepad_vibration is_mouse_button_pressed
    is_mouse_button_down is_mouse_button_released is_mouse_button_up get_mouse_x get_mouse_y
    get_mouse_position get_mouse_delta set_mouse_position set_mouse_offset set_mouse_scale
    get_mouse_wheel_move get_mouse_wheel_move_v set_mouse_cursor get_touch_x get_touch_y
    get_touch_position get_touch_point_id get_touch_point_count set_gestures_enabled
    is_gesture_detected get_gesture_detected get_gesture_hold_duration get_gesture_drag_vector
    get_gesture_drag_angle get_gesture_pinch_vector get_gesture_pinch_angle is_file_dropped
    load_dropped_files unload_dropped_files set_automation_event_list
    set_automation_event_base_frame start_automation_event_recording
    stop_automation_event_recording play_automation_event update_camera
    """,
)

# GPU objects other than textures: shaders, fonts (whose glyphs live with the
# window too, raylib's default font with it), meshes, models and materials,
# made; whether one is loaded; what a shader or font holds.
_kind(
    WINDOW,
    """
    load_shader load_shader_from_memory is_shader_valid get_shader_location
    get_shader_location_attrib get_font_default load_font load_font_ex load_font_from_image
    load_font_from_memory is_font_valid measure_text measure_text_ex measure_text_codepoints
    get_glyph_index get_glyph_info get_glyph_atlas_rec image_text image_text_ex image_draw_text
    image_draw_text_ex image_draw_text_pro load_model load_model_from_mesh is_model_valid
    upload_mesh gen_mesh_poly gen_mesh_plane gen_mesh_cube gen_mesh_sphere gen_mesh_hemi_sphere
    gen_mesh_cylinder gen_mesh_cone gen_mesh_torus gen_mesh_knot gen_mesh_heightmap
    gen_mesh_cubicmap load_materials load_material_default is_material_valid
    gui_get_font gui_get_text_width
    """,
)

# Whether a texture is loaded (a cell answers for its page), and which
# texture shapes are drawn with.
_kind(WINDOW, "is_texture_valid is_render_texture_valid get_shapes_texture get_shapes_texture_rectangle")

# A texture given to a material is drawn with the material: where it comes
# from must be seen (an atlas cell is refused).
_kind(WINDOW, "set_material_texture")

# rlgl's state read, its GL shader objects made and looked into: no drawing
# state changes.
_kind(
    WINDOW,
    """
    rl_get_active_framebuffer rl_get_point_size rl_get_line_width rl_is_stereo_render_enabled
    rl_check_errors rl_get_proc_address rl_get_framebuffer_width rl_get_framebuffer_height
    rl_get_texture_id_default rl_get_shader_id_default rl_get_shader_locs_default
    rl_get_gl_texture_formats rl_get_matrix_modelview rl_get_matrix_projection
    rl_get_matrix_transform rl_get_matrix_projection_stereo rl_get_matrix_view_offset_stereo
    rl_load_shader rl_load_shader_program rl_load_shader_program_ex rl_load_shader_program_compute
    rl_get_location_uniform rl_get_location_attrib
    """,
)

# GLFW's queries, on the window's thread, which GLFW requires; and what is
# not the window's: monitors' gamma, gamepad mappings, the user data on
# monitors and joysticks.
_kind(
    WINDOW,
    """
    glfw_get_platform glfw_platform_supported glfw_get_monitors glfw_get_primary_monitor
    glfw_get_monitor_pos glfw_get_monitor_workarea glfw_get_monitor_physical_size
    glfw_get_monitor_content_scale glfw_get_monitor_name glfw_set_monitor_user_pointer
    glfw_get_monitor_user_pointer glfw_get_video_modes glfw_get_video_mode glfw_set_gamma
    glfw_get_gamma_ramp glfw_set_gamma_ramp glfw_window_should_close glfw_get_window_title
    glfw_get_window_pos glfw_get_window_size glfw_get_framebuffer_size glfw_get_window_frame_size
    glfw_get_window_content_scale glfw_get_window_opacity glfw_get_window_monitor
    glfw_get_window_attrib glfw_get_window_user_pointer glfw_get_input_mode
    glfw_raw_mouse_motion_supported glfw_get_key_name glfw_get_key_scancode glfw_get_key
    glfw_get_mouse_button glfw_get_cursor_pos glfw_joystick_present glfw_get_joystick_axes
    glfw_get_joystick_buttons glfw_get_joystick_hats glfw_get_joystick_name glfw_get_joystick_guid
    glfw_set_joystick_user_pointer glfw_get_joystick_user_pointer glfw_joystick_is_gamepad
    glfw_update_gamepad_mappings glfw_get_gamepad_name glfw_get_gamepad_state
    glfw_get_clipboard_string glfw_get_time glfw_get_timer_value glfw_get_timer_frequency
    glfw_get_current_context glfw_extension_supported glfw_get_proc_address glfw_vulkan_supported
    glfw_get_required_instance_extensions
    """,
)

# ---------------------------------------------------------------- DRAWS

# 2D shapes and splines, text, textures and billboards, 3D shapes: vertices
# in the batch.
_kind(
    DRAWS,
    """
    draw_pixel draw_pixel_v draw_line draw_line_v draw_line_ex draw_line_strip draw_line_bezier
    draw_line_dashed draw_triangle draw_triangle_gradient draw_triangle_lines
    draw_triangle_lines_ex draw_triangle_fan draw_triangle_strip draw_rectangle draw_rectangle_v
    draw_rectangle_rec draw_rectangle_pro draw_rectangle_gradient_v draw_rectangle_gradient_h
    draw_rectangle_gradient_ex draw_rectangle_lines draw_rectangle_lines_ex draw_rectangle_rounded
    draw_rectangle_rounded_lines draw_rectangle_rounded_lines_ex draw_poly draw_poly_lines
    draw_poly_lines_ex draw_circle draw_circle_v draw_circle_gradient draw_circle_sector
    draw_circle_sector_lines draw_circle_sector_lines_ex draw_circle_lines draw_circle_lines_v
    draw_circle_lines_ex draw_ellipse draw_ellipse_v draw_ellipse_lines draw_ellipse_lines_v
    draw_ellipse_lines_ex draw_ring draw_ring_lines draw_ring_lines_ex draw_spline_linear
    draw_spline_basis draw_spline_catmull_rom draw_spline_bezier_quadratic
    draw_spline_bezier_cubic draw_spline_segment_linear draw_spline_segment_basis
    draw_spline_segment_catmull_rom draw_spline_segment_bezier_quadratic
    draw_spline_segment_bezier_cubic
    draw_fps draw_text draw_text_ex draw_text_pro draw_text_codepoint draw_text_codepoints
    draw_texture draw_texture_v draw_texture_ex draw_texture_rec draw_texture_pro
    draw_texture_n_patch draw_billboard draw_billboard_rec draw_billboard_pro
    draw_line_3d draw_point_3d draw_circle_3d draw_triangle_3d draw_triangle_strip_3d draw_cube
    draw_cube_v draw_cube_wires draw_cube_wires_v draw_sphere draw_sphere_ex draw_sphere_wires
    draw_cylinder draw_cylinder_ex draw_cylinder_wires draw_cylinder_wires_ex draw_capsule
    draw_capsule_wires draw_plane draw_ray draw_grid draw_bounding_box
    """,
)

# raygui's controls draw raylib's shapes and text (and read input).
_kind(
    DRAWS,
    """
    gui_draw_icon gui_window_box gui_group_box gui_line gui_panel gui_scroll_panel gui_label
    gui_button gui_label_button gui_toggle gui_toggle_group gui_toggle_slider gui_check_box
    gui_combo_box gui_dropdown_box gui_spinner gui_value_box gui_value_box_float gui_text_box
    gui_slider gui_slider_bar gui_progress_bar gui_status_bar gui_dummy_rec gui_grid gui_list_view
    gui_list_view_ex gui_tab_bar gui_tab_bar_ex gui_message_box gui_text_input_box
    gui_color_picker gui_color_panel gui_color_bar_alpha gui_color_bar_hue gui_color_picker_hsv
    gui_color_panel_hsv
    """,
)

# rlgl's immediate mode: vertices into the batch, a texture for them (the
# batch changes draw calls itself), and a check that the batch has room.
_kind(
    DRAWS,
    """
    rl_begin rl_end rl_vertex2i rl_vertex2f rl_vertex3f rl_tex_coord2f rl_normal3f rl_color4ub
    rl_color3f rl_color4f rl_set_texture rl_check_render_batch_limit
    """,
)

# What the drawing that follows draws with, kept by raylib and raygui without
# a GL call: the shapes' texture, raygui's font, the factors a custom blend
# scope applies when it begins.
_kind(DRAWS, "set_shapes_texture gui_set_font rl_set_blend_factors rl_set_blend_factors_separate")

# ---------------------------------------------------------------- AT_ONCE

# Textures written or set up on the GPU at once.
_kind(AT_ONCE, "update_texture update_texture_rec gen_texture_mipmaps set_texture_filter set_texture_wrap")

# A shader's uniforms are set at once, on the program bound then.
_kind(
    AT_ONCE,
    """
    set_shader_value set_shader_value_v set_shader_value_matrix set_shader_value_texture
    rl_set_uniform rl_set_uniform_matrix rl_set_uniform_matrices
    """,
)

# GPU objects released, and buffers of meshes and animated models rewritten.
_kind(
    AT_ONCE,
    """
    unload_font unload_model unload_mesh unload_material rl_unload_shader
    update_mesh_buffer gen_mesh_tangents update_model_animation update_model_animation_ex
    """,
)

# Meshes and models draw their own vertex arrays at once, not through the
# batch; so do rlgl's quick cube and quad, and a clear (clipped by the
# scope's scissor, as clear_background is).
_kind(
    DRAWS_AT_ONCE,
    """
    draw_mesh draw_mesh_instanced draw_model draw_model_ex draw_model_wires draw_model_wires_ex
    rl_load_draw_cube rl_load_draw_quad rl_clear_screen_buffers
    """,
)

# A compute dispatch; the batch drawn; the colour the next clear takes.
_kind(AT_ONCE, "rl_compute_shader_dispatch rl_draw_render_batch_active rl_clear_color")

# A raygui style loaded may load its font's texture and unload the font it
# replaces, at once; it sets the shapes' texture too.
_kind(AT_ONCE, "gui_load_style gui_load_style_from_memory gui_load_style_default")

# ---------------------------------------------------------------- READS_BACK

# GPU memory read back: textures, the screen, a framebuffer, and a font's
# texture, which exporting it as code reads.
_kind(
    READS_BACK,
    """
    load_image_from_texture load_image_from_screen take_screenshot export_font_as_code
    rl_read_texture_pixels rl_read_screen_pixels rl_copy_framebuffer
    """,
)

# ---------------------------------------------------------------- the window context's own

# Drawing state the toolkit's scopes keep on their stacks: the target, blend
# mode, scissor, shader and camera, and the matrix stack inside a scope; and
# the size of the target drawn into (a cell's own, not its page's).
_kind(
    SCOPED,
    """
    begin_texture_mode end_texture_mode begin_blend_mode end_blend_mode begin_scissor_mode
    end_scissor_mode begin_shader_mode end_shader_mode begin_mode_2d end_mode_2d begin_mode_3d
    end_mode_3d rl_push_matrix rl_pop_matrix rl_translatef rl_rotatef rl_scalef rl_mult_matrixf
    rl_load_identity get_render_width get_render_height
    """,
)

# Textures and render textures are the window's, which tracks each of them.
_kind(
    OWNED,
    """
    load_render_texture load_texture load_texture_from_image load_texture_cubemap
    unload_render_texture unload_texture
    """,
)

# The window closes and says it is ready through the toolkit; a clear lands
# above what was drawn before it.
_kind(TOOLKIT, "close_window is_window_ready clear_background")

# A shader a scope draws with is not unloaded under it.
_kind(TOOLKIT, "unload_shader")

# ---------------------------------------------------------------- REFUSED

# Each reason is what the user reads: why md.rl will not, and what to use.

_refused("the toolkit opens raylib's window: open it with kelo_ui.window.open_window", "init_window")
_refused(
    "frames are the window's, which begins, ends and swaps them: draw one with `with window.frame():`",
    "begin_drawing end_drawing swap_screen_buffer",
)
_refused(
    "render textures belong to the window, which makes them in its own format: make one with "
    "KlRenderTexture(size) or md.rl.load_render_texture",
    "load_render_texture_ex",
)
_refused(
    "stereo rendering switches raylib's framebuffer, viewport and matrices behind the drawing scopes: "
    "draw each eye into a KlRenderTexture of its own",
    "begin_vr_stereo_mode end_vr_stereo_mode rl_enable_stereo_render rl_disable_stereo_render",
)
# The scopes set the projection and viewport for their target (an atlas
# cell's area included) and put them back when they end.
_refused(
    "rlgl's projection belongs to the drawing scopes, which set it for their target: move and turn "
    "what you draw with rl_push_matrix, rl_translatef, rl_rotatef, rl_scalef, rl_mult_matrixf and "
    "rl_pop_matrix, or draw through a camera with begin_mode_2d or begin_mode_3d",
    """
    rl_matrix_mode rl_ortho rl_frustum rl_set_matrix_projection rl_set_matrix_modelview
    rl_set_matrix_projection_stereo rl_set_matrix_view_offset_stereo rl_set_clip_planes
    """,
)
_refused(
    "rlgl's viewport belongs to the drawing scopes; draw into a KlRenderTexture of the size you want, "
    "or use begin_scissor_mode to clip",
    "rl_viewport",
)
_refused(
    "the scissor belongs to the drawing scopes (it keeps an atlas cell's drawing in its area): clip "
    "with begin_scissor_mode and end_scissor_mode",
    "rl_scissor rl_enable_scissor_test rl_disable_scissor_test",
)
_refused(
    "blending belongs to the blend scopes: use begin_blend_mode and end_blend_mode (BLEND_CUSTOM "
    "after rl_set_blend_factors for other factors; RL_ONE, RL_ZERO, RL_FUNC_ADD writes without "
    "blending)",
    "rl_set_blend_mode rl_enable_color_blend rl_disable_color_blend",
)
_refused(
    "the bound shader belongs to the shader scopes: use begin_shader_mode and end_shader_mode",
    "rl_set_shader rl_enable_shader rl_disable_shader",
)
_refused(
    "the framebuffer drawn into, and its size, belong to the texture-mode scopes and the window: draw "
    "into a KlRenderTexture with `with target:` (or md.rl.begin_texture_mode and end_texture_mode); "
    "resize the window with set_window_size",
    """
    rl_enable_framebuffer rl_disable_framebuffer rl_bind_framebuffer rl_active_draw_buffers
    rl_set_framebuffer_width rl_set_framebuffer_height rl_resize_framebuffer
    """,
)
_refused(
    "it copies between raw framebuffers past the drawing scopes (and an atlas cell's area): blit one "
    "KlRenderTexture into another with blit or blit_region",
    "rl_blit_framebuffer",
)
_refused(
    "it binds the framebuffer it checks and then the window's, leaving the current scope's target "
    "unbound; render textures made through md.rl are complete (is_render_texture_valid tells a live one)",
    "rl_framebuffer_complete",
)
_refused(
    "the depth test belongs to raylib's 3D mode, which turns it on: draw in 3D between begin_mode_3d "
    "and end_mode_3d; switched here, it would hold for what the batch draws later, the toolkit's blits "
    "included",
    "rl_enable_depth_test rl_disable_depth_test rl_enable_depth_mask rl_disable_depth_mask",
)
_refused(
    "raylib's shapes and the toolkit's blits are drawn with raylib's culling of back faces, and a switch "
    "here would hold for what the batch draws later too; draw both faces of a surface as two triangles",
    "rl_enable_backface_culling rl_disable_backface_culling rl_set_cull_face",
)
_refused(
    "which channels a target takes belongs to the blend scopes: keep a channel with begin_blend_mode("
    "BLEND_CUSTOM_SEPARATE) after rl_set_blend_factors_separate",
    "rl_color_mask",
)
# GL state applied when the batch is drawn, later: it would hold for what
# was drawn before the call too, and under the toolkit's blits.
_refused(
    "wires and points are GL state that raylib applies to its whole batch when it draws it, the "
    "toolkit's blits included: draw outlines with the *_lines and *_wires functions (draw_model_wires, "
    "draw_cube_wires, draw_rectangle_lines, ...)",
    "rl_enable_wire_mode rl_disable_wire_mode rl_enable_point_mode rl_disable_point_mode rl_set_point_size",
)
_refused(
    "line width and smoothing are GL state that raylib applies to its whole batch when it draws it, "
    "lines drawn before the call included: draw thick lines with draw_line_ex and the *_ex outlines",
    "rl_set_line_width rl_enable_smooth_lines rl_disable_smooth_lines",
)
_refused(
    "raylib's batch binds the textures it draws with: give immediate-mode drawing its texture with "
    "rl_set_texture, a shader a texture with set_shader_value_texture",
    """
    rl_active_texture_slot rl_enable_texture rl_disable_texture rl_enable_texture_cubemap
    rl_disable_texture_cubemap
    """,
)
_refused(
    "a raw texture id could be an atlas page, shared by many cells: set a texture's filter and wrap "
    "with set_texture_filter and set_texture_wrap",
    "rl_texture_parameters rl_cubemap_parameters",
)
_refused(
    "a raw texture id could be an atlas page, which the shader would see whole: give a shader a "
    "texture with set_shader_value_texture",
    "rl_set_uniform_sampler",
)
_refused(
    "textures and render textures belong to the window, which tracks each, and a raw texture id could "
    "be an atlas page holding many cells: make them with md.rl.load_texture_from_image, "
    "md.rl.load_render_texture or KlRenderTexture(size), update them with update_texture or "
    "update_texture_rec, mipmap them with gen_texture_mipmaps, release them with md.rl's unload_*",
    """
    rl_load_texture rl_load_texture_depth rl_load_texture_cubemap rl_update_texture
    rl_gen_texture_mipmaps rl_unload_texture rl_load_framebuffer rl_framebuffer_attach
    rl_unload_framebuffer rl_bind_image_texture
    """,
)
_refused(
    "raw vertex arrays and buffers are bound behind raylib's batch, and a raw buffer id could be one of "
    "raylib's or a mesh's: make a Mesh (gen_mesh_*, upload_mesh, update_mesh_buffer) and draw it with "
    "draw_mesh, or draw in immediate mode (rl_begin ... rl_end)",
    """
    rl_enable_vertex_array rl_disable_vertex_array rl_enable_vertex_buffer rl_disable_vertex_buffer
    rl_enable_vertex_buffer_element rl_disable_vertex_buffer_element rl_enable_vertex_attribute
    rl_disable_vertex_attribute rl_enable_state_pointer rl_disable_state_pointer
    rl_load_vertex_array rl_load_vertex_buffer rl_load_vertex_buffer_element rl_update_vertex_buffer
    rl_update_vertex_buffer_elements rl_unload_vertex_array rl_unload_vertex_buffer
    rl_set_vertex_attribute rl_set_vertex_attribute_divisor rl_set_vertex_attribute_default
    rl_draw_vertex_array rl_draw_vertex_array_elements rl_draw_vertex_array_instanced
    rl_draw_vertex_array_elements_instanced
    """,
)
_refused(
    "shader storage buffers share their ids with vertex buffers, raylib's own included, and are bound "
    "behind its batch: keep data for shaders in a Mesh (upload_mesh, update_mesh_buffer) or a texture "
    "(update_texture)",
    """
    rl_load_shader_buffer rl_unload_shader_buffer rl_update_shader_buffer rl_bind_shader_buffer
    rl_read_shader_buffer rl_copy_shader_buffer rl_get_shader_buffer_size
    """,
)
_refused(
    "a raw program id could be raylib's default shader, which all drawing uses: release a shader with unload_shader",
    "rl_unload_shader_program",
)
_refused(
    "rlgl, its batch and its GL functions are set up and torn down with the window "
    "(kelo_ui.window.open_window and close_window): draw into raylib's own batch (rl_begin ... rl_end) "
    "and draw it with rl_draw_render_batch_active",
    """
    rlgl_init rlgl_close rl_load_extensions rl_load_render_batch rl_unload_render_batch
    rl_set_render_batch_active rl_draw_render_batch
    """,
)

# GLFW under raylib: the window, its GL context, its event loop and
# callbacks are raylib's, which keeps its own record of them.
_refused(
    "GLFW and its window start and stop with the toolkit's window: open it with "
    "kelo_ui.window.open_window (md.rl.set_config_flags first for raylib's window flags), close it "
    "with kelo_ui.window.close_window",
    """
    glfw_init glfw_terminate glfw_init_hint glfw_init_allocator glfw_default_window_hints
    glfw_window_hint glfw_window_hint_string glfw_create_window glfw_destroy_window
    """,
)
_refused(
    "GLFW's window is raylib's, which keeps its own record of its title, size, place and state: change "
    "them through md.rl (set_window_title, set_window_icon, set_window_position, set_window_size, "
    "set_window_min_size, set_window_max_size, set_window_opacity, minimize_window, maximize_window, "
    "restore_window, set_window_focused, set_window_monitor, toggle_fullscreen, set_window_state, "
    "clear_window_state, set_clipboard_text); close the window with kelo_ui.window.close_window",
    """
    glfw_set_window_should_close glfw_set_window_title glfw_set_window_icon glfw_set_window_pos
    glfw_set_window_size_limits glfw_set_window_aspect_ratio glfw_set_window_size
    glfw_set_window_opacity glfw_iconify_window glfw_restore_window glfw_maximize_window
    glfw_show_window glfw_hide_window glfw_focus_window glfw_request_window_attention
    glfw_set_window_monitor glfw_set_window_attrib glfw_set_window_user_pointer
    glfw_set_clipboard_string
    """,
)
_refused(
    "raylib follows the window's events and input through GLFW's callbacks and polls them at the end "
    "of each frame: one set here would replace raylib's or run inside its polling; ask raylib instead "
    "(is_key_pressed, get_char_pressed, get_mouse_position, is_window_resized, is_file_dropped, "
    "poll_input_events, enable_event_waiting, ...)",
    """
    glfw_set_error_callback glfw_set_monitor_callback glfw_set_window_pos_callback
    glfw_set_window_size_callback glfw_set_window_close_callback glfw_set_window_refresh_callback
    glfw_set_window_focus_callback glfw_set_window_iconify_callback
    glfw_set_window_maximize_callback glfw_set_framebuffer_size_callback
    glfw_set_window_content_scale_callback glfw_set_key_callback glfw_set_char_callback
    glfw_set_char_mods_callback glfw_set_mouse_button_callback glfw_set_cursor_pos_callback
    glfw_set_cursor_enter_callback glfw_set_scroll_callback glfw_set_drop_callback
    glfw_set_joystick_callback glfw_poll_events glfw_wait_events glfw_wait_events_timeout
    glfw_post_empty_event
    """,
)
_refused(
    "raylib keeps its own record of the cursor and of input modes: use md.rl's show_cursor, "
    "hide_cursor, enable_cursor, disable_cursor, set_mouse_position and set_mouse_cursor",
    """
    glfw_set_input_mode glfw_set_cursor_pos glfw_create_cursor glfw_create_standard_cursor
    glfw_destroy_cursor glfw_set_cursor
    """,
)
_refused(
    "the GL context is the window's, current on its thread, and its buffers are swapped when a frame "
    "ends: draw frames with `with window.frame():`, set vsync with set_window_state(FLAG_VSYNC_HINT)",
    "glfw_make_context_current glfw_swap_buffers glfw_swap_interval",
)
_refused(
    "raylib times its frames by GLFW's clock: read it with get_time, and keep time of your own by subtracting from it",
    "glfw_set_time",
)

# ---------------------------------------------------------------- atlas cells

_cells(CONTEXT, "begin_texture_mode unload_render_texture unload_texture")
_cells(PAGE, "is_texture_valid is_render_texture_valid")
_cells(DRAW, "draw_texture draw_texture_v draw_texture_ex draw_texture_rec draw_texture_pro")
_cells(UPDATE, "update_texture update_texture_rec")
_cells(READ, "load_image_from_texture")
_cells(
    REFUSE,
    "set_texture_filter set_texture_wrap gen_texture_mipmaps",
    "it shares its page's texture with other cells, and this would change the whole page under every "
    "one of them; set it on cell.copy(), a KlRenderTexture of its own",
)
_cells(
    REFUSE,
    "set_shader_value_texture set_material_texture set_shapes_texture",
    "it is an area of a page it shares with other cells, and this would sample the whole page; give "
    "it cell.copy(), a KlRenderTexture of its own",
)
_cells(
    REFUSE,
    "draw_texture_n_patch",
    "raylib's nine-patch would cut up its whole page; draw a cell nine-sliced with "
    "kelo_ui.presentation.nine_slice.blit_nine_slice",
)
_cells(
    REFUSE,
    "draw_billboard draw_billboard_rec draw_billboard_pro",
    "a billboard would show its whole page; draw the cell into a KlRenderTexture of its own "
    "(cell.copy()) and show that one",
)
