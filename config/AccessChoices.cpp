#include "config/AccessChoices.h"

namespace {

// The value of a stored "0", "1" or "2"; -1 for anything else.
int choiceValue(const QString& text) {
    if (text.size() != 1 || text[0] < QLatin1Char('0') || text[0] > QLatin1Char('2'))
        return -1;
    return text[0].unicode() - '0';
}

} // namespace

ReachChoice DefaultReach(Defaults defaults) {
    return defaults == Defaults::FirstRun ? ReachChoice::HomeNetwork : ReachChoice::Anywhere;
}

UploadsChoice DefaultUploads(Defaults defaults) {
    return defaults == Defaults::FirstRun ? UploadsChoice::UploadFolder : UploadsChoice::UnderBase;
}

ReachChoice ReadReach(const QString& text) {
    const int value = choiceValue(text);
    return value < 0 ? DefaultReach(Defaults::OlderStore) : static_cast<ReachChoice>(value);
}

UploadsChoice ReadUploads(const QString& text) {
    const int value = choiceValue(text);
    return value < 0 ? DefaultUploads(Defaults::OlderStore) : static_cast<UploadsChoice>(value);
}

QString ChoiceText(ReachChoice choice) {
    return QString::number(static_cast<int>(choice));
}

QString ChoiceText(UploadsChoice choice) {
    return QString::number(static_cast<int>(choice));
}

const QStringList& ReachCaptions() {
    static const QStringList captions{QStringLiteral("This computer only"),
                                      QStringLiteral("My home network"),
                                      QStringLiteral("Anywhere")};
    return captions;
}

const QStringList& UploadsCaptions() {
    static const QStringList captions{QStringLiteral("No"),
                                      QStringLiteral("Into the upload folder"),
                                      QStringLiteral("Anywhere under the base folder")};
    return captions;
}
