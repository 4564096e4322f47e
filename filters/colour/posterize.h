#pragma once

class CImageProcessor;

// Quantises every channel to `levels` evenly spaced values (2..256; counts outside are held to the
// nearest). Writes the work image while the engine's preview flag is set, the picture otherwise.
void Posterize(CImageProcessor& engine, int levels);
