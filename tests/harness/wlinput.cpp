// SPDX-License-Identifier: MIT
// One mouse and one keyboard on a Wayland compositor, for as long as it runs:
// the harness starts it beside the program and writes it a command a line.
// A keyboard made per key press would come and go under the program, which
// some SDL releases do not survive at start-up.
//   a X Y W H     the pointer to (X, Y) of a W x H desktop
//   m DX DY       the pointer moved by (DX, DY)
//   k KEYSYM 1|0  a key pressed or released
// It answers "ok" once the compositor has each command, so that the
// harness's input arrives in order and before what it looks at next.
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

namespace
{

wl_seat *seat;
zwlr_virtual_pointer_manager_v1 *pointers;
zwp_virtual_keyboard_manager_v1 *keyboards;

void global(void *, wl_registry *r, uint32_t id, const char *name, uint32_t)
{
    if (!strcmp(name, wl_seat_interface.name))
        seat = (wl_seat *)wl_registry_bind(r, id, &wl_seat_interface, 1);
    else if (!strcmp(name, zwlr_virtual_pointer_manager_v1_interface.name))
        pointers = (zwlr_virtual_pointer_manager_v1 *)wl_registry_bind(
            r, id, &zwlr_virtual_pointer_manager_v1_interface, 1);
    else if (!strcmp(name, zwp_virtual_keyboard_manager_v1_interface.name))
        keyboards = (zwp_virtual_keyboard_manager_v1 *)wl_registry_bind(
            r, id, &zwp_virtual_keyboard_manager_v1_interface, 1);
}

void globalGone(void *, wl_registry *, uint32_t) {}

uint32_t millis()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

} // namespace

int main()
{
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return fprintf(stderr, "wlinput: no Wayland display\n"), 1;
    const wl_registry_listener listener = {global, globalGone};
    wl_registry_add_listener(wl_display_get_registry(display), &listener, nullptr);
    wl_display_roundtrip(display);
    if (!seat || !pointers || !keyboards)
        return fprintf(stderr, "wlinput: the compositor has no virtual pointer or keyboard\n"), 1;
    zwlr_virtual_pointer_v1 *pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointers, seat);
    zwp_virtual_keyboard_v1 *keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards, seat);

    // The default layout (XKB_DEFAULT_* or us), which also says which key
    // gives a keysym.
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap *keymap = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    char *text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
    const int fd = memfd_create("keymap", MFD_CLOEXEC);
    if (!text || fd < 0 || write(fd, text, strlen(text) + 1) != (ssize_t)strlen(text) + 1)
        return fprintf(stderr, "wlinput: no keymap\n"), 1;
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   strlen(text) + 1);

    char line[256];
    while (fgets(line, sizeof line, stdin)) {
        unsigned a = 0, b = 0, w = 0, h = 0;
        int dx = 0, dy = 0;
        const char *answer = "ok";
        if (sscanf(line, "a %u %u %u %u", &a, &b, &w, &h) == 4) {
            zwlr_virtual_pointer_v1_motion_absolute(pointer, millis(), a, b, w, h);
            zwlr_virtual_pointer_v1_frame(pointer);
        } else if (sscanf(line, "m %d %d", &dx, &dy) == 2) {
            zwlr_virtual_pointer_v1_motion(pointer, millis(), wl_fixed_from_int(dx),
                                           wl_fixed_from_int(dy));
            zwlr_virtual_pointer_v1_frame(pointer);
        } else if (sscanf(line, "k %u %u", &a, &b) == 2) {
            // Keys are sent as Linux input codes, XKB's less 8.
            xkb_keycode_t key = xkb_keymap_min_keycode(keymap);
            const xkb_keysym_t *syms = nullptr;
            for (; key <= xkb_keymap_max_keycode(keymap); key++)
                if (xkb_keymap_key_get_syms_by_level(keymap, key, 0, 0, &syms) > 0 && syms[0] == a)
                    break;
            if (key > xkb_keymap_max_keycode(keymap))
                answer = "no key gives that keysym";
            else
                zwp_virtual_keyboard_v1_key(keyboard, millis(), key - 8, b);
        } else {
            answer = "unknown command";
        }
        if (wl_display_roundtrip(display) < 0)
            return 1;
        puts(answer);
        fflush(stdout);
    }
    return 0;
}
