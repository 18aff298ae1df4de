#include "ui/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>

#include "base/Texts.h"

namespace torvane {

QTranslator* InstallQtTranslations(QCoreApplication& application, bool french) {
    if (!french) return nullptr;
    auto* translator = new QTranslator(&application);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_fr"), folder) ||
        !QCoreApplication::installTranslator(translator)) {
        std::fprintf(stderr,
                     Tr("Qt's French texts are not in %s: standard buttons stay in English.\n",
                        "Les textes français de Qt ne sont pas dans %s : les boutons standard "
                        "restent en anglais.\n"),
                     folder.toLocal8Bit().constData());
        delete translator;
        return nullptr;
    }
    return translator;
}

}  // namespace torvane
