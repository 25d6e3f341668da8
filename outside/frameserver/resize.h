#pragma once

namespace kvfs {

class Interpreter;

// BilinearResize and LanczosResize, with and without the four crop values.
void AddResizers(Interpreter& interpreter);

}  // namespace kvfs
