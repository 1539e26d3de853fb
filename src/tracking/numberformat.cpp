#include "tracking/numberformat.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace {

QLocale withoutGroupSeparator(QLocale locale) {
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale;
}

// The user's locale without thousands separator. Made again only when the
// default locale changes, not for every value shown.
const QLocale& displayLocale() {
    thread_local QLocale source;
    thread_local QLocale display = withoutGroupSeparator(source);
    const QLocale current;
    if (current != source) {
        source = current;
        display = withoutGroupSeparator(current);
    }
    return display;
}

std::string fixedText(double value, const QLocale& locale) {
    if (!std::isfinite(value))
        return kNotComputable;
    // A value that rounds to zero shows without a sign.
    if (std::fabs(value) < 0.005)
        value = 0.0;
    return locale.toString(value, 'f', 2).toStdString();
}

} // namespace

std::string FormatFixed(double value) {
    return fixedText(value, displayLocale());
}

std::string FormatFixed(double value, const QLocale& locale) {
    return fixedText(value, withoutGroupSeparator(locale));
}

std::string FormatRate(double value) {
    return std::isfinite(value) ? FormatFixed(value) + "%" : std::string(kNotComputable);
}

std::string IntToStr(int value) {
    return std::to_string(value);
}

std::string FormatCount(double value) {
    if (!std::isfinite(value))
        return kNotComputable;
    return QLocale::c().toString(std::trunc(value), 'f', 0).toStdString();
}

int TruncateCount(double sum) {
    if (std::isnan(sum))
        return 0;
    constexpr double lowest = std::numeric_limits<int>::min();
    constexpr double highest = std::numeric_limits<int>::max();
    if (sum <= lowest)
        return std::numeric_limits<int>::min();
    if (sum >= highest)
        return std::numeric_limits<int>::max();
    return static_cast<int>(std::trunc(sum));
}
