// The one performance-counter object: counter-name index, shared query, sampling thread.
#pragma once

class PerfdataThread;

class Perfdata {
public:
    Perfdata();
    PerfdataThread *thread = nullptr;
};

// The one Perfdata object; made on first use.
Perfdata *perfdata();
