#pragma once
// The program's own addresses, shown in the about box and the help.
namespace tallimer {

// No public site: the about box leaves the web link out.
inline constexpr char kProjectWebAddress[] = "";
inline constexpr char kProjectMailAddress[] = "contact@tallimer.example.org";

}  // namespace tallimer
