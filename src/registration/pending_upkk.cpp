// Placeholder until the registered-horse family's key update is built.
#include "registration/regkova.h"
namespace velmo {
void RegKOVA::upKK_Key() {}
}  // namespace velmo
