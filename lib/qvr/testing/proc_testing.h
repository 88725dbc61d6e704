#pragma once
// For tests only: a shorter bound on proc_Start's wait for a program to become ready.
namespace qvr::proc_testing {
void set_ready_timeout_ms(int ms);
}
