#pragma once

// Where the routing picture's layers sit on its base picture, and how large the pictures
// of each layer are. The routing picture composes them at these positions; the build-time
// generator (tools/zunmkrouting) draws them to these sizes, so that the signal lines of
// neighbouring layers meet.
namespace RoutingPictureGeometry
{
struct Rect
{
    int x, y, w, h;
};

// Layer 0 is the base picture; 1 input preset with routing preset, 2 routing preset,
// 3 and 4 the multipath pictures of DSP 1 and DSP 2, 5 and 6 their signal paths.
constexpr Rect Layers[7] = {
    {0, 0, 780, 392},  {17, 16, 226, 369}, {247, 16, 146, 369}, {397, 16, 79, 183},
    {397, 207, 79, 183}, {480, 7, 244, 187}, {480, 198, 244, 187},
};

// A one-board processor's picture ends below DSP 1's box (its outputs 1-4).
constexpr int OneBoardHeight = 202;

// The vertical centre, on the base picture, of the signal row of routing slot or output
// 0-7 (0-3 on DSP 1, 4-7 on DSP 2).
constexpr int rowY(int row) { return row < 4 ? 61 + 38 * row : 252 + 38 * (row - 4); }
} // namespace RoutingPictureGeometry
