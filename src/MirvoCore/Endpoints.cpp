#include "Endpoints.h"

namespace mirvo {

const Endpoints& Endpoints::current()
{
    static const Endpoints endpoints;
    return endpoints;
}

} // namespace mirvo
