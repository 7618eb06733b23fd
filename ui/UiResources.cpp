#include "UiResources.h"

#include <QtGlobal>

void initUiResources()
{
    Q_INIT_RESOURCE(Common);
    Q_INIT_RESOURCE(Launcher);
    Q_INIT_RESOURCE(Modal);
}
