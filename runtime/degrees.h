// Angles: the framework takes them in degrees everywhere, and sine and cosine convert with
// this factor (pi / 180). Depends on nothing. Keeps no state.
#pragma once

constexpr double kDegToRad = 0.017453292519943295;
