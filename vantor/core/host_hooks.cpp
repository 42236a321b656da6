#include "vantor/core/host_hooks.h"

namespace vantor {

host_services& host()
{
    static host_services services;
    return services;
}

}  // namespace vantor
