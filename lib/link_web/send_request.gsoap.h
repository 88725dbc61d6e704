// The server's web-service operation, as soapcpp2 reads it (not a C++ header).
//gsoap ns service name: WebServ
//gsoap ns service style: rpc
//gsoap ns service encoding: encoded
//gsoap ns service namespace: urn:service
//gsoap ns schema namespace: urn:service
//gsoap ns service method-action: SendRequest ""
struct xsd__base64Binary { unsigned char *__ptr; int __size; };
int ns__SendRequest(char *Host, struct xsd__base64Binary Request, int ResultSize, struct xsd__base64Binary *result);
