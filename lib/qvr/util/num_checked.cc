#include <cfloat>
#include <cmath>

#include "qvr/util/num.h"

float num_CheckedFloat(double value) {
    if (std::isnan(value)) return static_cast<float>(value);
    if (value > FLT_MAX) return FLT_MAX;
    if (value < -FLT_MAX) return -FLT_MAX;
    return static_cast<float>(value);
}

float num_AddChecked(float a, float b) {
    return num_CheckedFloat(static_cast<double>(a) + b);
}
float num_SubtractChecked(float a, float b) {
    return num_CheckedFloat(static_cast<double>(a) - b);
}
float num_MultiplyChecked(float a, float b) {
    return num_CheckedFloat(static_cast<double>(a) * b);
}
float num_DivideChecked(float a, float b) {
    return num_CheckedFloat(static_cast<double>(a) / b);
}
float num_NegateChecked(float a) {
    return num_CheckedFloat(-static_cast<double>(a));
}
