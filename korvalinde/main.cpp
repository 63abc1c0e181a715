#include "korvalinde/driver.hpp"

int main() { return korvalinde::run(); }
