select id_semester, p43 as semester , id_w_s
FROM semester
where id_w_s = 3
union 
SELECT Semester.id_semester, Semester.p43 as semester, Semester.id_w_s
FROM Semester, g_r_y
WHERE Semester.id_rate = g_r_y.id_rate AND
      g_r_y.id_a_year=15 AND
      g_r_y.id_group=1
ORDER BY p43