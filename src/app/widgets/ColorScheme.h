#pragma once

// The window's light or dark look, following the desktop's preference.
namespace ColorScheme {

// Asks the desktop's settings portal for its colour scheme without waiting, applies it when the
// answer comes and follows later changes. Without a portal the platform's own look stays.
void follow();

// Dark: the Fusion style with a dark palette. Light: the look the program started with.
void apply(bool dark);

} // namespace ColorScheme
