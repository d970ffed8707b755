#include "Perfdata.h"

Perfdata::Perfdata() {}

Perfdata *perfdata() {
    static Perfdata *object = new Perfdata();
    return object;
}
