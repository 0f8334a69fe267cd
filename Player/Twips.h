#pragma once

class QWidget;

// Twips per screen pixel for a logical resolution in dots per inch:
// 1440 / dpi rounded to the nearest whole number, halves to even.
int TwipsPerPixelFor(double dotsPerInch);

// The same for the screen a widget is on (15 at 96 dpi).
int TwipsPerPixel(const QWidget* widget);

// Rounds to the nearest integer, halves to even.
long long RoundHalfEven(double value);
