#include "Typography.h"

Typography& Typography::instance()
{
    // Lives until the process ends; nothing changes it after construction.
    static Typography* const typography = new Typography;
    return *typography;
}

Typography::Typography()
    : m_fonts{{
          // weight, pixel size, line height, letter spacing
          {700, 20, 0, -0.3f},  {700, 16, 0, -0.3f},  {700, 14, 0, -0.3f},  {700, 12, 0, -0.1f},  {700, 10, 0, -0.1f},
          {400, 14, 18, -0.2f}, {400, 12, 16, -0.2f}, {400, 11, 14, -0.2f}, {500, 10, 12, -0.1f}, {500, 9, 10, -0.1f},
          {500, 14, 0, -0.4f},  {500, 12, 0, -0.4f},  {600, 10, 0, -0.3f},  {600, 9, 0, -0.3f},   {700, 10, 0, 0},
          {700, 9, 0, 0},       {700, 16, 0, 0},      {700, 12, 0, 0},      {700, 10, 0, 0},
      }}
{}

Typography::~Typography() = default;
