#pragma once
// Single-precision arithmetic that never overflows to infinity: the result is computed in
// double and saturated to +-FLT_MAX; NaN stays NaN (the scan engine fails NaN channels).

float num_CheckedFloat(double value);
float num_AddChecked(float a, float b);
float num_SubtractChecked(float a, float b);
float num_MultiplyChecked(float a, float b);
// Division by zero saturates by the sign of the quotient; 0 / 0 is NaN.
float num_DivideChecked(float a, float b);
float num_NegateChecked(float a);
