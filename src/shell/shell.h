// SPDX-License-Identifier: MIT
// The application shell's shared state: what the user's input has set, and
// the one way out of the process.
#ifndef GLOWLATTICE_SHELL_H
#define GLOWLATTICE_SHELL_H

struct SDL_keysym;

extern float zoom; // eye-space z offset of the whole lattice, starts at -25
extern int mx;     // last pointer x, display pixels
extern int my;     // last pointer y, display pixels
extern int sx;     // spin input: half the pointer's x offset from the centre
extern int sy;     // spin input: half the pointer's y offset from the centre

void handleKeyPress(struct SDL_keysym *keysym);
void Quit(int returnCode);

#endif
