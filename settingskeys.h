// The settings store of the window: where it is and each key with the value
// read when the key is missing. The job form's fields are stored by the form
// (loadSettings / saveSettings), the interface language by its code.
#pragma once

#include <QSettings>
#include <QString>
#include <QVariant>

namespace Settings {

constexpr const char *organization = "Vumo";
constexpr const char *application = "Quillon";

struct Entry
{
    const char *key;
    QVariant fallback;

    QVariant read(const QSettings &settings) const
    {
        return settings.value(QString::fromLatin1(key), fallback);
    }
    void write(QSettings &settings, const QVariant &value) const
    {
        settings.setValue(QString::fromLatin1(key), value);
    }
};

inline const Entry folderPath{"folderPath", QString()};
inline const Entry outputPath{"outputPath", QString()};
inline const Entry iconPath{"iconPath", QString()};
inline const Entry lastExe{"lastExe", QString()};
// The option boxes' current indexes.
inline const Entry compressionLevel{"compressionLevel", 3};
inline const Entry compressionMethod{"compressionMethod", 0};
inline const Entry dictionarySize{"dictionarySize", 2};
inline const Entry cleanupEnabled{"cleanupEnabled", true};
inline const Entry encryptContent{"encryptContent", false};
inline const Entry adminRequired{"adminRequired", false};
inline const Entry tempExtraction{"tempExtraction", true};

inline const Entry language{"language", QStringLiteral("zh_CN")};

} // namespace Settings
