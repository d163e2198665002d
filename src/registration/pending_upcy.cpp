// Placeholder until the training family's key update is built.
#include "registration/regkova.h"
namespace velmo {
void RegKOVA::upCYKey() {}
}  // namespace velmo
