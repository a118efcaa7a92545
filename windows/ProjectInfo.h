#pragma once
// The program's own addresses, shown in the about box and the help.
namespace tallimer {

inline constexpr char kProjectWebAddress[] = "http://tallimer.example.org";
inline constexpr char kProjectMailAddress[] = "contact@tallimer.example.org";

}  // namespace tallimer
