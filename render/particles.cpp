#include "render/particles.h"

#include "platform/blocks.h"
#include "render/framebuffer.h"
#include "render/graphics.h"

Particle* Particles = nullptr;
float LastParticleTime = NoParticleStepYet;

void init_particles() {
  Particles = static_cast<Particle*>(alloc_block(ParticleCount * sizeof(Particle)));
  for (int32_t i = 0; i < ParticleCount; ++i) {
    respawn_particle(Particles[i]);
  }
}

void respawn_particle(Particle& particle) {
  // Each value is formed in double precision and held in single precision.
  particle.x = static_cast<float>(random_below(static_cast<float>(Framebuffer.width)));
  particle.y = static_cast<float>(random_below(static_cast<float>(Framebuffer.height - 190)) + 150.0);
  particle.speed = static_cast<float>(random_below(20.0f) + 3.0);
  particle.size = static_cast<float>(random_below(1.5f) + 1.0);
}

void move_particle(Particle& particle, double dt) {
  particle.x = static_cast<float>(static_cast<double>(particle.x) + dt * static_cast<double>(particle.speed));
  if (particle.x >= static_cast<float>(Framebuffer.width + 20)) {
    respawn_particle(particle);
    particle.x = 0.0f;  // back at the left edge, whatever x was drawn
  }
}

void update_particles(float t) {
  if (LastParticleTime < 0.0f) {
    LastParticleTime = t;
    return;
  }
  if (t < LastParticleTime) {
    // The show clock wrapped (after 2^32 ms): go on from the new time rather than move
    // every particle back by 50 days' worth of pixels.
    LastParticleTime = t;
  }
  const double dt = static_cast<double>(t) - static_cast<double>(LastParticleTime);
  LastParticleTime = t;
  for (int32_t i = 0; i < ParticleCount; ++i) {
    Particle& p = Particles[i];
    move_particle(p, dt);
    draw_particle_sprite(p.x, p.y, p.size);
  }
}

void draw_particle_sprite(float x, float y, float size) {
  if (!(size > 0.0f)) {
    return;
  }
  const int32_t width = Framebuffer.width;
  const int32_t height = Framebuffer.height;
  float right = static_cast<float>(static_cast<double>(x) + 4.0 * static_cast<double>(size));
  float bottom = static_cast<float>(static_cast<double>(y) + 2.0 * static_cast<double>(size));
  if (y >= static_cast<float>(height) || bottom <= 0.0f || x >= static_cast<float>(width) || right <= 0.0f) {
    return;
  }
  // 16.16 steps that spread sprite columns and rows 0 to 31 (31 x 65536) over the rectangle.
  const int32_t step_u = float_to_int(2031616.0 / (static_cast<double>(right) - static_cast<double>(x)));
  const int32_t step_v = float_to_int(2031616.0 / (static_cast<double>(bottom) - static_cast<double>(y)));
  int32_t start_u = 0;
  int32_t start_v = 0;
  if (x < 0.0f) {
    start_u = float_to_int(-(static_cast<double>(step_u) * static_cast<double>(x)));
    x = 0.0f;
  }
  if (y < 0.0f) {
    start_v = float_to_int(-(static_cast<double>(step_v) * static_cast<double>(y)));
    y = 0.0f;
  }
  // Clipped to the last column and row, which the rounding up below then leaves out.
  if (right >= static_cast<float>(width)) {
    right = static_cast<float>(width - 1);
  }
  if (bottom >= static_cast<float>(height)) {
    bottom = static_cast<float>(height - 1);
  }
  const int32_t x0 = ceil_fixed(x);
  const int32_t y0 = ceil_fixed(y);
  const int32_t x1 = ceil_fixed(right);
  const int32_t y1 = ceil_fixed(bottom);
  if (x1 - x0 <= 0 || y1 - y0 <= 0) {
    return;
  }
  // 32-bit walks that wrap modulo 2^32; only bits 16-20 pick a texel.
  const uint32_t u0 = static_cast<uint32_t>(
      float_to_int((static_cast<double>(x0) - static_cast<double>(x)) * step_u + start_u));
  uint32_t v = static_cast<uint32_t>(
      float_to_int((static_cast<double>(y0) - static_cast<double>(y)) * step_v + start_v));
  for (int32_t row = y0; row < y1; ++row) {
    const uint32_t* sprite_row = SpritePicture + ((v >> 16) & 31) * SpriteSize;
    uint32_t* out = Framebuffer.pixels + static_cast<size_t>(row) * static_cast<size_t>(width);
    uint32_t u = u0;
    for (int32_t col = x0; col < x1; ++col) {
      const uint32_t texel = sprite_row[(u >> 16) & 31];
      if (texel != 0) {
        out[col] = saturating_add(texel, out[col] & PreparedMask);
      }
      u += static_cast<uint32_t>(step_u);
    }
    v += static_cast<uint32_t>(step_v);
  }
}
