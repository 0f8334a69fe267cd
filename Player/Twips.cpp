#include "Twips.h"

#include <QWidget>
#include <cmath>

long long RoundHalfEven(double value)
{
    return std::llrint(value); // the default rounding mode is to nearest, ties to even
}

int TwipsPerPixelFor(double dotsPerInch)
{
    return dotsPerInch > 0 ? int(RoundHalfEven(1440.0 / dotsPerInch)) : 15;
}

int TwipsPerPixel(const QWidget* widget)
{
    return TwipsPerPixelFor(widget->logicalDpiX());
}
