// SPDX-License-Identifier: MIT
// The web page's drawing: the frame as drawGLScene would draw it, in the
// calls WebGL makes fast.
#define GL_GLEXT_PROTOTYPES // WebGL's shader routines, from gl.h
#include "page.h"
#include "../cloud/cloud.h"
#include "../shell/shell.h"
#include "render.h"

#include <cmath>

// In a page the browser decodes the sprite packed with it (the only file
// there is) into RGBA bytes; the desktop loader's header checks are for files.
SDL_Surface *loadSpriteImage(const char *path, int largestSide)
{
    (void)largestSide;
    return SDL_LoadBMP(path);
}

// WebGL has no BGR, and takes the layout it is given.
void uploadPageSprite(const SDL_Surface *image)
{
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image->w, image->h, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 image->pixels);
}

// WebGL has no immediate mode: its emulation makes every begin/end pair a
// draw of its own, 27,000 a frame, and a browser without a GPU fills two
// triangles a square slowly. In a page each square goes instead as one point
// of the size the square has on screen, which the rasteriser fills as a
// single quadrilateral with the square's own corners. Each corner lies where
// drawGLScene's translations put it, summed in the same single precision; the
// shader puts it where the rasteriser does (1 / 2^GL_SUBPIXEL_BITS of a pixel,
// rounded to even, pixel centres on that grid) and maps the sprite across it
// as the square's texture coordinates would: the same picture, but for under
// one pixel in a hundred off by 1 or 2 in 255 where the two round apart.
// (400 and 300 are half the viewport.)
static const char *const pointVertexShader = R"(
uniform mat4 projection;
uniform float halfSide;
uniform float grid; // subpixel steps a pixel
attribute vec3 centre;
varying highp vec4 edges; // left, right, bottom, top in subpixel steps
float snapped(float x)
{
    float r = floor(x + 0.5);
    return r - x == 0.5 && mod(r, 2.0) == 1.0 ? r - 1.0 : r;
}
void main()
{
    gl_Position = projection * vec4(centre, 1.0);
    float perW = 1.0 / gl_Position.w;
    vec4 low = projection * vec4(centre.xy - halfSide, centre.z, 1.0);
    vec4 high = projection * vec4(centre.xy + halfSide, centre.z, 1.0);
    vec2 middle = vec2(400.0, 300.0) * grid - grid / 2.0;
    vec2 extent = vec2(400.0, 300.0) * grid;
    edges = vec4(snapped(middle.x + low.x * perW * extent.x), snapped(middle.x + high.x * perW * extent.x),
                 snapped(middle.y + low.y * perW * extent.y), snapped(middle.y + high.y * perW * extent.y));
    gl_PointSize = (high.x - low.x) * perW * 400.0;
}
)";
static const char *const pointFragmentShader = R"(
precision highp float;
uniform float grid;
uniform vec4 tint;
uniform sampler2D sprite;
varying highp vec4 edges;
void main()
{
    vec4 e = floor(edges + 0.5); // whole steps again after interpolation
    vec2 st = ((gl_FragCoord.xy - 0.5) * grid - e.xz) / (e.yw - e.xz);
    gl_FragColor = texture2D(sprite, st) * tint;
}
)";

static int tried;                      // 1 once the points' program was made or refused
static GLuint pointProgram;            // 0: every square is drawn as corners
static GLuint loop;                    // square counter of the frame being drawn
static GLuint centreBuffer;            // the centres of the squares drawn as points
static GLfloat centres[POINTS][3];     // eye units
static float pointFrom;                // nearest eye depth drawn as a point
static float pointTo;                  // farthest
static float viewReach[2];             // the view's half width and height per unit of depth
static const int batch = POINTS / 2;   // squares per draw of corners
static GLfloat corners[POINTS * 4][5]; // texture coordinate, then position

static void attachShader(GLenum kind, const char *source)
{
    GLuint made = glCreateShader(kind);
    glShaderSource(made, 1, &source, nullptr);
    glCompileShader(made);
    glAttachShader(pointProgram, made);
}

// Points need fragment shaders of full precision. A square larger than the
// largest point, under 2 pixels wide (a point is drawn at least 1 wide) or
// with its centre off the view (which some browsers drop) goes as its four
// corners through the emulation instead, as every square does without such
// shaders: the same picture, more slowly.
static void makePointSquares(const GLubyte tint[3], float halfSide)
{
    pointProgram = glCreateProgram();
    attachShader(GL_VERTEX_SHADER, pointVertexShader);
    attachShader(GL_FRAGMENT_SHADER, pointFragmentShader);
    glBindAttribLocation(pointProgram, 0, "centre");
    glLinkProgram(pointProgram);
    GLint linked = 0;
    glGetProgramiv(pointProgram, GL_LINK_STATUS, &linked);
    GLfloat projection[16];
    GLfloat sizes[2] = {1, 1};
    GLint bits = 0;
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetFloatv(GL_ALIASED_POINT_SIZE_RANGE, sizes);
    glGetIntegerv(GL_SUBPIXEL_BITS, &bits);
    viewReach[0] = 1 / projection[0];
    viewReach[1] = 1 / projection[5];
    if (!linked || sizes[1] < 3) {
        pointProgram = 0;
        return;
    }
    glUseProgram(pointProgram);
    glUniformMatrix4fv(glGetUniformLocation(pointProgram, "projection"), 1, GL_FALSE, projection);
    glUniform1f(glGetUniformLocation(pointProgram, "halfSide"), halfSide);
    glUniform1f(glGetUniformLocation(pointProgram, "grid"), (float)(1 << bits));
    glUniform4f(glGetUniformLocation(pointProgram, "tint"), tint[0] / 255.0f, tint[1] / 255.0f,
                tint[2] / 255.0f, 1.0f);
    glUseProgram(0);
    glGenBuffers(1, &centreBuffer);
    const float sideAtUnitDepth = projection[0] * 2 * halfSide * 400; // pixels
    pointFrom = sideAtUnitDepth / (sizes[1] - 1);
    pointTo = sideAtUnitDepth / 2;
}

void drawPageSquares(const GLubyte tint[3], float halfSide, double scale)
{
    // s, t and the offset from the square's centre in half sides, as
    // drawGLScene has them.
    static const float corner[4][4] = {{0, 0, -1, -1}, {1, 0, 1, -1}, {1, 1, 1, 1}, {0, 1, -1, 1}};
    if (!tried) {
        makePointSquares(tint, halfSide);
        tried = 1;
    }
    int points = 0;
    int squares = 0;
    for (loop = 0; loop < POINTS; loop++) {
        const float x = (float)(scale * cxd[loop]);
        const float y = (float)(scale * cyd[loop]);
        const float z = zoom + (float)(scale * czd[loop]);
        const float reachX = -z * viewReach[0];
        const float reachY = -z * viewReach[1];
        // Wholly off the view or behind the eye, with a hundredth to spare:
        // nothing of it would show.
        if (std::fabs(x) - halfSide > 1.01f * reachX || std::fabs(y) - halfSide > 1.01f * reachY)
            continue;
        if (pointProgram && -z >= pointFrom && -z <= pointTo && std::fabs(x) < reachX &&
            std::fabs(y) < reachY) {
            GLfloat *c = centres[points++];
            c[0] = x;
            c[1] = y;
            c[2] = z;
            continue;
        }
        for (int k = 0; k < 4; k++) {
            GLfloat *v = corners[squares * 4 + k];
            v[0] = corner[k][0];
            v[1] = corner[k][1];
            v[2] = x + corner[k][2] * halfSide;
            v[3] = y + corner[k][3] * halfSide;
            v[4] = z;
        }
        squares++;
    }
    // Arrays of corners, in as few draws as the emulation takes (16-bit
    // indices, a 2 MiB staging buffer).
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    for (int first = 0; first < squares; first += batch) {
        glTexCoordPointer(2, GL_FLOAT, sizeof corners[0], corners[first * 4]);
        glVertexPointer(3, GL_FLOAT, sizeof corners[0], corners[first * 4] + 2);
        glDrawArrays(GL_QUADS, 0, 4 * (squares - first < batch ? squares - first : batch));
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    if (!points)
        return;
    // Straight to WebGL, and the emulation's state left as it expects it:
    // its own program, no array buffer, attribute 0 off.
    glUseProgram(pointProgram);
    glBindBuffer(GL_ARRAY_BUFFER, centreBuffer);
    glBufferData(GL_ARRAY_BUFFER, points * sizeof centres[0], centres, GL_STREAM_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 0, nullptr);
    glEnableVertexAttribArray(0);
    glDrawArrays(GL_POINTS, 0, points);
    glDisableVertexAttribArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glUseProgram(0);
}
