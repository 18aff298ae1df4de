#include "widgets/CButtonST.h"

#include <QIcon>

namespace torvane {

void CButtonST::SetBitmap(const QPixmap& bitmap) {
    setIcon(QIcon(bitmap));
    if (!bitmap.isNull()) setIconSize(bitmap.deviceIndependentSize().toSize());
}

}  // namespace torvane
