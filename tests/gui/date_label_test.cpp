// The date label's text: short date and long time of a locale, with no time
// zone after the seconds.
#include "app/date_label.h"

#include <gtest/gtest.h>

namespace {

const QDateTime kMoment(QDate(2026, 12, 6), QTime(21, 30, 0));

} // namespace

TEST(DateTimeLabel, ShortDateAndLongTimeWithoutTheZone)
{
    const struct {
        QLocale locale;
        const char *expected;
    } cases[] = {
        {QLocale::c(), "Date/Time: 6/12/26 21:30:00"},
        {QLocale(QLocale::English, QLocale::UnitedStates), "Date/Time: 12/6/26 9:30:00 PM"},
        {QLocale(QLocale::German, QLocale::Germany), "Date/Time: 06.12.26 21:30:00"},
        // The zone leads here: the blank after it goes with it.
        {QLocale(QLocale::Chinese, QLocale::China), "Date/Time: 2026/12/6 21:30:00"},
    };
    for (const auto &c : cases) {
        // Qt's own long time carries the zone: the case would not tell otherwise.
        ASSERT_TRUE(c.locale.timeFormat(QLocale::LongFormat).contains(u't')) << c.expected;
        EXPECT_EQ(kelvora::DateTimeLabel(kMoment, c.locale).toStdString(), c.expected);
    }
}

TEST(WithoutTimeZone, DropsOnlyTheZoneField)
{
    const struct {
        const char *format;
        const char *expected;
    } cases[] = {
        {"HH:mm:ss t", "HH:mm:ss"},
        {"t HH:mm:ss", "HH:mm:ss"},
        {"h:mm:ss AP tttt", "h:mm:ss AP"},
        {"HH:mm:ss", "HH:mm:ss"},
        // Quoted text, a quote written twice included, is no field.
        {"HH 'to t' mm t", "HH 'to t' mm"},
        {"h 'o''clock t' t", "h 'o''clock t'"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(kelvora::WithoutTimeZone(QString::fromUtf8(c.format)).toStdString(), c.expected) << c.format;
}
