// The archiver options a job takes: each value the job passes on unchanged,
// with the label the window's box shows for it (a source text of the window's
// "MainWindow" translation context), in the boxes' order. The window maps a
// box index to a value through these tables; quillon-cli checks its options
// against them.
#pragma once

#include <QtGlobal>

#include <cstddef>

namespace quillon {

struct JobOption
{
    const char *value;
    const char *label;
};

struct JobOptionList
{
    const JobOption *items;
    int count;
    int defaultIndex; // also what an index outside the list gives

    const char *valueAt(int index) const
    {
        return items[index >= 0 && index < count ? index : defaultIndex].value;
    }
    const char *defaultValue() const { return items[defaultIndex].value; }
};

inline constexpr JobOption kCompressionLevelItems[] = {
    {"0", QT_TRANSLATE_NOOP("MainWindow", "存储")}, {"1", QT_TRANSLATE_NOOP("MainWindow", "最快")},
    {"3", QT_TRANSLATE_NOOP("MainWindow", "快速")}, {"5", QT_TRANSLATE_NOOP("MainWindow", "标准")},
    {"7", QT_TRANSLATE_NOOP("MainWindow", "最大")}, {"9", QT_TRANSLATE_NOOP("MainWindow", "极限")},
};
inline constexpr JobOption kCompressionMethodItems[] = {
    {"LZMA", QT_TRANSLATE_NOOP("MainWindow", "LZMA")},
    {"LZMA2", QT_TRANSLATE_NOOP("MainWindow", "LZMA2")},
};
inline constexpr JobOption kDictionarySizeItems[] = {
    {"64K", QT_TRANSLATE_NOOP("MainWindow", "64 KB")},
    {"1M", QT_TRANSLATE_NOOP("MainWindow", "1 MB")},
    {"16M", QT_TRANSLATE_NOOP("MainWindow", "16 MB")},
    {"32M", QT_TRANSLATE_NOOP("MainWindow", "32 MB")},
    {"64M", QT_TRANSLATE_NOOP("MainWindow", "64 MB")},
};

template <std::size_t N>
constexpr JobOptionList jobOptionList(const JobOption (&items)[N], int defaultIndex)
{
    return JobOptionList{items, static_cast<int>(N), defaultIndex};
}

inline constexpr JobOptionList kCompressionLevels = jobOptionList(kCompressionLevelItems, 3);
inline constexpr JobOptionList kCompressionMethods = jobOptionList(kCompressionMethodItems, 0);
inline constexpr JobOptionList kDictionarySizes = jobOptionList(kDictionarySizeItems, 2);

} // namespace quillon
