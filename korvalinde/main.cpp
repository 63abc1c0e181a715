#include "korvalinde/classic/driver.hpp"

int main() { return korvalinde::run(); }
