// libzorvan.so: the exports come from the logic library (linked whole); the
// version script zorvan.map keeps exactly them visible.
#include "zorvan.h"
