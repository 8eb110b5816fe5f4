#include "app/Resources.h"

#include <QtGlobal>

static void initializeCorvexResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace corvex {

void initializeResources()
{
    initializeCorvexResources();
}

} // namespace corvex
