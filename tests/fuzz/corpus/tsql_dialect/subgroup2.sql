SELECT DISTINCT subgroup
  FROM dbo.RRNKkrdt
 WHERE id_a_year=15 AND
       id_kafedra=1 AND
       id_teacher=1 AND
       id_discipline=1 AND
       id_examination=1 AND
       id_o_z=0 AND
       id_w_s=1