#include "Job.h"

size_t qHash(const JobIdentity& identity, size_t seed)
{
    return qHashMulti(seed, static_cast<int>(identity.source), static_cast<int>(identity.scope),
                      identity.label);
}
