#pragma once
// The colours the monitor uses, by name. Colours are 24-bit values in the
// blue-green-red order the monitor has always stored (blue * 65536 +
// green * 256 + red), so that settings written by any version read the same;
// -1 means "the control's own colour".

namespace skyvane::colour {

constexpr int rgb(int r, int g, int b) { return (b << 16) | (g << 8) | r; }
// Red, green and blue parts of a stored colour.
constexpr int red(int c) { return c & 0xFF; }
constexpr int green(int c) { return (c >> 8) & 0xFF; }
constexpr int blue(int c) { return (c >> 16) & 0xFF; }

inline constexpr int Default = -1;

inline constexpr int Red = rgb(0xFF, 0, 0);
inline constexpr int Orange = rgb(0xFF, 0x80, 0);
inline constexpr int Yellow = rgb(0xFF, 0xFF, 0);
inline constexpr int Lime = rgb(0, 0xFF, 0);
inline constexpr int Green = rgb(0, 0x80, 0);
inline constexpr int Cyan = rgb(0, 0xFF, 0xFF);
inline constexpr int Blue = rgb(0, 0, 0xC0);
inline constexpr int Navy = rgb(0, 0, 0x80);
inline constexpr int Grey = rgb(0xC0, 0xC0, 0xC0);
inline constexpr int DarkGrey = rgb(0x40, 0x40, 0x40);
inline constexpr int Black = 0;

inline constexpr int LightGreen = rgb(0xC0, 0xFF, 0xC0);
inline constexpr int LightYellow = rgb(0xFF, 0xFF, 0xC0);
inline constexpr int LightOrange = rgb(0xFF, 0xE0, 0xC0);
inline constexpr int LightCyan = rgb(0xC0, 0xFF, 0xFF);

// The lamp that blinks while a client program talks to the monitor.
inline constexpr int ClientActivity = rgb(0xFF, 0xFF, 0x80);

} // namespace skyvane::colour
