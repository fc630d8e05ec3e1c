#pragma once

#include "config/StoreDefaults.h"

#include <QString>
#include <QStringList>

// Who may reach the server and what visitors may store: two choices of the Settings page, each
// stored as its own value, "0", "1" or "2".

// Which peers are served. ThisComputer listens on the loopback address only; HomeNetwork listens
// on every address but serves only peers of the private, link-local and shared ranges; Anywhere
// serves everybody.
enum class ReachChoice { ThisComputer = 0, HomeNetwork = 1, Anywhere = 2 };
// Where a PUT may store its file: nowhere, inside the upload folder only, or anywhere under the
// base folder.
enum class UploadsChoice { Off = 0, UploadFolder = 1, UnderBase = 2 };

inline const QString kReachValue = QStringLiteral("Reach");
inline const QString kUploadsValue = QStringLiteral("Uploads");

// A first run gets the home network and the upload folder; an earlier version's store, which
// served everybody and took uploads anywhere under the base folder, keeps that.
ReachChoice DefaultReach(Defaults defaults);
UploadsChoice DefaultUploads(Defaults defaults);

// The stored texts. Anything but "0", "1" or "2" (a hand-edited value) reads as an earlier
// version's store would: "2".
ReachChoice ReadReach(const QString& text);
UploadsChoice ReadUploads(const QString& text);
QString ChoiceText(ReachChoice choice);
QString ChoiceText(UploadsChoice choice);

// The captions of the Settings page's boxes, in the order of the choices' values.
const QStringList& ReachCaptions();
const QStringList& UploadsCaptions();
