// The namespace table of the SendRequest service. gSOAP's runtime refers to it by name, so it
// is defined here once, exported, for every program that uses the service.
#include "soapH.h"
#include "WebServ.nsmap"
