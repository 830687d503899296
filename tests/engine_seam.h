/* Seams an engine might bring: check_c89.sh builds kobdraw.c and modex.c
 * against them. */
void engine_select(unsigned mask);
void engine_store(unsigned offset, unsigned value);
void engine_out(unsigned port, unsigned value);
unsigned engine_in(unsigned port);
void engine_set_mode(unsigned mode);
unsigned engine_load(unsigned offset);
void engine_fill(unsigned offset, unsigned count, unsigned value);
void engine_copy(unsigned from, unsigned to, unsigned count);
unsigned long engine_ticks(void);
