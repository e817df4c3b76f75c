SELECT DISTINCT educ_sh.id_a_year, a_year.p32
  FROM educ_sh, a_year
WHERE educ_sh.id_a_year = a_year.id_a_year
ORDER BY a_year.p32