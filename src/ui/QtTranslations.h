#pragma once

class QCoreApplication;
class QTranslator;

namespace torvane {

// Qt's own texts (the standard buttons of message boxes: Yes, No, OK, Cancel...) in the
// program's language. English needs nothing; for French, Qt's translations are loaded from
// where Qt keeps them. Returns the installed translator, owned by the application, or nullptr
// when nothing was installed (English, or no translation file on this machine).
QTranslator* InstallQtTranslations(QCoreApplication& application, bool french);

}  // namespace torvane
