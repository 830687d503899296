/* A seam an engine might bring: check_c89.sh builds kobdraw.c against it. */
void engine_select(unsigned mask);
void engine_store(unsigned offset, unsigned value);
